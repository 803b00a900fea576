#include "platform/signature.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <fstream>
#include <iterator>

#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace Platform {
namespace {

namespace fs = std::filesystem;
const fs::path kPki = OMK_TEST_SIGNING_PKI;

class SignatureTest : public testing::Test {
 protected:
  // A file with some content, signed by `signer` (a name in the PKI folder).
  fs::path Signed(const std::string& name, const std::string& signer, const std::string& chain = "chain.pem") {
    const fs::path file = dir.Path() / name;
    std::ofstream(file, std::ios::binary) << "#!/bin/sh\necho installing\nexit 0\n";
    std::vector<std::string> args = {"--key", (kPki / (signer + ".key")).string(), "--cert",
                                     (kPki / (signer + ".pem")).string()};
    if (!chain.empty()) args.insert(args.end(), {"--chain", (kPki / chain).string()});
    args.push_back(file.string());
    const auto result = TestSupport::RunProcess(OMK_SIGN_PATH, args);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return file;
  }
  ESignatureCheck Check(const fs::path& file, const fs::path& store = kPki / "root.pem") {
    return VerifyFileSignature(file, store, signer);
  }

  TestSupport::TempDir dir;
  SignerInfo signer;
};

TEST_F(SignatureTest, TrustedSignatureYieldsTheSigner) {
  ASSERT_EQ(Check(Signed("ok.bin", "signer")), ESignatureCheck::Trusted);
  const std::vector<uint8_t> serial = {0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F, 0x60, 0x71,
                                       0x82, 0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9};
  EXPECT_EQ(signer.serialNumber, serial);
  EXPECT_EQ(signer.issuerName, L"DigiCert SHA2 Assured ID Code Signing CA");
  EXPECT_EQ(signer.subjectName, L"Dravo Corporation");
  EXPECT_EQ(signer.signatureAlgorithm, "1.2.840.10045.4.3.2");  // ECDSA with SHA-256
  EXPECT_LT(signer.validFrom, signer.validTo);
}

TEST_F(SignatureTest, ExpiredSigningCertificateIsAccepted) {
  ASSERT_EQ(Check(Signed("old.bin", "expired")), ESignatureCheck::Trusted);
  EXPECT_LT(signer.validTo, 1700000000);
}

TEST_F(SignatureTest, AnotherSubjectIsTrustedButNamed) {
  ASSERT_EQ(Check(Signed("other.bin", "other")), ESignatureCheck::Trusted);
  EXPECT_EQ(signer.subjectName, L"Other Corporation");
}

TEST_F(SignatureTest, RefusedSignatures) {
  const fs::path tampered = Signed("tampered.bin", "signer");
  {
    std::fstream f(tampered, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(12);
    f.put('X');
  }
  const fs::path unsigned_ = dir.Path() / "plain.bin";
  std::ofstream(unsigned_) << "no signature here";
  const fs::path empty = dir.Path() / "empty.bin";
  std::ofstream{empty};
  const fs::path badLength = Signed("badlength.bin", "signer");
  {
    std::fstream f(badLength, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(-(28 + 4), std::ios::end);
    f.put('\x7f');  // signature length far beyond the file
  }

  const std::pair<const char*, fs::path> cases[] = {
      {"no code-signing usage", Signed("noeku.bin", "noeku")},
      {"look-alike chain", Signed("rogue.bin", "rogue-signer", "rogue-chain.pem")},
      {"intermediate missing from the signature", Signed("nochain.bin", "signer", "")},
      {"content changed after signing", tampered},
      {"unsigned", unsigned_},
      {"zero length", empty},
      {"bad signature length", badLength},
  };
  for (const auto& [what, file] : cases) EXPECT_EQ(Check(file), ESignatureCheck::Untrusted) << what;
  // A signature from the right chain against a store that trusts only another root.
  EXPECT_EQ(Check(Signed("ok2.bin", "signer"), kPki / "rogue-root.pem"), ESignatureCheck::Untrusted);
}

std::string Bytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The digest of `bytes` fed in pieces of `piece` bytes, told the size `expected` first.
std::optional<ContentDigest> DigestInPieces(const std::string& bytes, size_t piece, uint64_t expected = 0) {
  CContentDigester digester;
  if (expected > 0) digester.Expect(expected);
  for (size_t at = 0; at < bytes.size(); at += piece) {
    const size_t n = std::min(piece, bytes.size() - at);
    if (!digester.Update(reinterpret_cast<const uint8_t*>(bytes.data() + at), n)) return std::nullopt;
  }
  return digester.Finish();
}

std::array<uint8_t, 32> Sha256(std::string_view data) {
  std::array<uint8_t, 32> out{};
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), out.data(), &length, EVP_sha256(), nullptr);
  return out;
}

void Patch(const fs::path& file, std::streamoff offset, std::ios::seekdir from, char value) {
  std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(offset, from);
  f.put(value);
}

// Every case of the file check gives the same verdict over the digest taken on the way, for
// pieces of any size (across the held-back bytes' boundary too), without reading the file.
TEST_F(SignatureTest, DigestTakenOnTheWayGivesTheFileCheckVerdicts) {
  const fs::path content = Signed("content.bin", "signer");
  Patch(content, 12, std::ios::beg, 'X');
  const fs::path signature = Signed("signature.bin", "signer");
  Patch(signature, -(28 + 12 + 60), std::ios::end, '\x55');
  const fs::path trailer = Signed("trailer.bin", "signer");
  Patch(trailer, -(28 + 1), std::ios::end, '\x01');  // the length's last byte
  const fs::path truncated = dir.Path() / "truncated.bin";
  {
    const std::string whole = Bytes(Signed("whole.bin", "signer"));
    std::ofstream(truncated, std::ios::binary) << whole.substr(0, whole.size() - 5);
  }
  const fs::path unsigned_ = dir.Path() / "plain.bin";
  std::ofstream(unsigned_) << "no signature here";
  const fs::path empty = dir.Path() / "empty.bin";
  std::ofstream{empty};

  const std::pair<const char*, fs::path> cases[] = {
      {"trusted", Signed("ok.bin", "signer")},
      {"expired signer", Signed("old.bin", "expired")},
      {"other subject", Signed("other.bin", "other")},
      {"look-alike chain", Signed("rogue.bin", "rogue-signer", "rogue-chain.pem")},
      {"no code-signing usage", Signed("noeku.bin", "noeku")},
      {"tampered content", content},
      {"tampered signature", signature},
      {"tampered trailer", trailer},
      {"truncated", truncated},
      {"unsigned", unsigned_},
      {"zero length", empty},
  };
  for (const auto& [what, file] : cases) {
    signer = SignerInfo{};
    const ESignatureCheck expected = Check(file);
    const SignerInfo expectedSigner = signer;
    const std::string bytes = Bytes(file);
    for (const size_t piece : {size_t{1}, size_t{7}, size_t{4096}, bytes.size() + 1}) {
      const auto digest = DigestInPieces(bytes, piece);
      ASSERT_TRUE(digest) << what;
      // The file is gone: the verdict comes from the digest alone.
      const fs::path gone = dir.Path() / "gone.bin";
      signer = SignerInfo{};
      EXPECT_EQ(VerifyFileSignature(gone, *digest, kPki / "root.pem", signer), expected) << what << " " << piece;
      EXPECT_EQ(signer.subjectName, expectedSigner.subjectName) << what;
      EXPECT_EQ(signer.serialNumber, expectedSigner.serialNumber) << what;
    }
  }
  EXPECT_EQ(Check(Signed("ok.bin", "signer")), ESignatureCheck::Trusted);
  EXPECT_EQ(Check(content), ESignatureCheck::Untrusted);
}

// A content longer than the held-back bytes, fed in pieces around their size: the digest is
// the content's own, and a signature too long to be held back leaves it to the file.
TEST_F(SignatureTest, HeldBackBytesAcrossPieceBoundaries) {
  const fs::path file = dir.Path() / "large.bin";
  {
    std::string content(CContentDigester::kHeldBack * 2 + 12345, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 31 + 7);
    std::ofstream(file, std::ios::binary) << content;
  }
  const auto run = TestSupport::RunProcess(OMK_SIGN_PATH, {"--key", (kPki / "signer.key").string(), "--cert",
                                                           (kPki / "signer.pem").string(), "--chain",
                                                           (kPki / "chain.pem").string(), file.string()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string bytes = Bytes(file);
  const size_t held = CContentDigester::kHeldBack;
  for (const size_t piece : {held - 1, held, held + 1, size_t{131072}, bytes.size()}) {
    // Told the size (or a smaller one), the front is hashed at once; either way the same digest.
    const uint64_t hint = piece == held ? bytes.size() - 5000 : piece == held + 1 ? bytes.size() : 0;
    const auto digest = DigestInPieces(bytes, piece, hint);
    ASSERT_TRUE(digest);
    ASSERT_EQ(digest->state, ContentDigest::EState::Ready) << piece;
    EXPECT_EQ(digest->fileSize, bytes.size());
    EXPECT_EQ(digest->sha256, Sha256(std::string_view(bytes).substr(0, digest->contentLength))) << piece;
    EXPECT_EQ(VerifyFileSignature(dir.Path() / "gone.bin", *digest, kPki / "root.pem", signer),
              ESignatureCheck::Trusted);
  }

  // Told a larger size than the file has: still right while the signature is held back, else
  // the digest cannot tell and the file decides.
  for (const uint64_t hint : {bytes.size() + 1, bytes.size() + held, bytes.size() * 3}) {
    const auto digest = DigestInPieces(bytes, 131072, hint);
    ASSERT_TRUE(digest);
    if (hint == bytes.size() + 1) {
      ASSERT_EQ(digest->state, ContentDigest::EState::Ready);
      EXPECT_EQ(digest->sha256, Sha256(std::string_view(bytes).substr(0, digest->contentLength)));
    } else {
      EXPECT_EQ(digest->state, ContentDigest::EState::Unknown) << hint;
    }
    EXPECT_EQ(VerifyFileSignature(file, *digest, kPki / "root.pem", signer), ESignatureCheck::Trusted) << hint;
  }

  // A trailer naming a signature longer than the held-back bytes: the file decides.
  std::string forged = bytes;
  const uint32_t length = static_cast<uint32_t>(held + 100);
  const size_t at = forged.size() - 28 - 4;
  for (int i = 0; i < 4; ++i) forged[at + i] = static_cast<char>(length >> (24 - 8 * i));
  const auto digest = DigestInPieces(forged, 65536);
  ASSERT_TRUE(digest);
  EXPECT_EQ(digest->state, ContentDigest::EState::Unknown);
  EXPECT_EQ(VerifyFileSignature(dir.Path() / "gone.bin", *digest, kPki / "root.pem", signer), ESignatureCheck::Error);
  const fs::path forgedFile = dir.Path() / "forged.bin";
  std::ofstream(forgedFile, std::ios::binary) << forged;
  EXPECT_EQ(VerifyFileSignature(forgedFile, *digest, kPki / "root.pem", signer), ESignatureCheck::Untrusted);
}

TEST_F(SignatureTest, UnreadableInputIsAnError) {
  EXPECT_EQ(Check(dir.Path() / "missing.bin"), ESignatureCheck::Error);
  EXPECT_EQ(Check(Signed("ok.bin", "signer"), dir.Path() / "missing-store.pem"), ESignatureCheck::Error);
}

}  // namespace
}  // namespace Platform

#include "platform/signature.h"

#include <gtest/gtest.h>

#include <fstream>

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

TEST_F(SignatureTest, UnreadableInputIsAnError) {
  EXPECT_EQ(Check(dir.Path() / "missing.bin"), ESignatureCheck::Error);
  EXPECT_EQ(Check(Signed("ok.bin", "signer"), dir.Path() / "missing-store.pem"), ESignatureCheck::Error);
}

}  // namespace
}  // namespace Platform

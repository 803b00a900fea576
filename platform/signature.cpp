#include "platform/signature.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>

#include "platform/text.h"

namespace Platform {

namespace {

constexpr char kMagic[] = "~Module signature appended~\n";
constexpr size_t kMagicSize = sizeof(kMagic) - 1;
constexpr size_t kTrailerSize = 12;
constexpr uint8_t kIdTypePkcs7 = 2;
constexpr size_t kTailSize = kTrailerSize + kMagicSize;

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using Cms = std::unique_ptr<CMS_ContentInfo, Deleter<CMS_ContentInfo, CMS_ContentInfo_free>>;
using Store = std::unique_ptr<X509_STORE, Deleter<X509_STORE, X509_STORE_free>>;
// CMS_get0_signers hands out a new stack of borrowed certificates: free the stack only.
void FreeSignerStack(STACK_OF(X509)* stack) { sk_X509_free(stack); }
using Signers = std::unique_ptr<STACK_OF(X509), Deleter<STACK_OF(X509), FreeSignerStack>>;

std::wstring CommonName(const X509_NAME* name) {
  const int index = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
  if (index < 0) return L"";
  const ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index));
  unsigned char* utf8 = nullptr;
  const int length = ASN1_STRING_to_UTF8(&utf8, data);
  if (length < 0) return L"";
  std::wstring text = Utf8ToWide(std::string_view(reinterpret_cast<char*>(utf8), static_cast<size_t>(length)));
  OPENSSL_free(utf8);
  return text;
}

int64_t ToUnixTime(const ASN1_TIME* time) {
  struct tm parts {};
  if (ASN1_TIME_to_tm(time, &parts) != 1) return 0;
  return static_cast<int64_t>(timegm(&parts));
}

void ReadSigner(X509* cert, SignerInfo& signer) {
  signer = SignerInfo{};
  if (BIGNUM* bn = ASN1_INTEGER_to_BN(X509_get0_serialNumber(cert), nullptr)) {
    signer.serialNumber.resize(static_cast<size_t>(BN_num_bytes(bn)));
    BN_bn2bin(bn, signer.serialNumber.data());
    BN_free(bn);
  }
  signer.issuerName = CommonName(X509_get_issuer_name(cert));
  signer.subjectName = CommonName(X509_get_subject_name(cert));
  char oid[128] = {};
  OBJ_obj2txt(oid, sizeof oid, OBJ_nid2obj(X509_get_signature_nid(cert)), 1);
  signer.signatureAlgorithm = oid;
  signer.validFrom = ToUnixTime(X509_get0_notBefore(cert));
  signer.validTo = ToUnixTime(X509_get0_notAfter(cert));
}

// Reads the first `remaining` bytes of an open file, so the signed content is streamed
// through the digest instead of being held in memory.
struct FileSlice {
  std::ifstream* in;
  uint64_t remaining;
};

int SliceRead(BIO* bio, char* out, size_t size, size_t* done) {
  auto* slice = static_cast<FileSlice*>(BIO_get_data(bio));
  const size_t want = static_cast<size_t>(std::min<uint64_t>(size, slice->remaining));
  *done = 0;
  if (want == 0) return 0;
  slice->in->read(out, static_cast<std::streamsize>(want));
  *done = static_cast<size_t>(slice->in->gcount());
  slice->remaining -= *done;
  return *done > 0 ? 1 : 0;
}

long SliceCtrl(BIO* bio, int cmd, long, void*) {
  auto* slice = static_cast<FileSlice*>(BIO_get_data(bio));
  switch (cmd) {
    case BIO_CTRL_EOF:
      return slice->remaining == 0 ? 1 : 0;
    case BIO_CTRL_FLUSH:
      return 1;
    default:
      return 0;
  }
}

BIO_METHOD* SliceMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "file slice");
    BIO_meth_set_read_ex(m, SliceRead);
    BIO_meth_set_ctrl(m, SliceCtrl);
    BIO_meth_set_create(m, [](BIO* b) {
      BIO_set_init(b, 1);
      return 1;
    });
    return m;
  }();
  return method;
}

// The trailer and marker at the end of a file of `size` bytes (`tail` is its last
// kTailSize bytes): the signature's length, or 0 when they are not well formed.
uint32_t SignatureLength(const uint8_t* tail, uint64_t size) {
  if (std::memcmp(tail + kTrailerSize, kMagic, kMagicSize) != 0) return 0;
  const uint32_t signatureLength = (uint32_t{tail[8]} << 24) | (uint32_t{tail[9]} << 16) |
                                   (uint32_t{tail[10]} << 8) | uint32_t{tail[11]};
  const uint64_t signedEnd = size - kTailSize;
  if (tail[2] != kIdTypePkcs7 || signatureLength > signedEnd || signatureLength > (1u << 24)) return 0;
  return signatureLength;
}

// Whether every signer signed attributes holding a SHA-256 message digest equal to `digest`
// (nothing when one of them signed otherwise: only the content itself can tell then).
std::optional<bool> DigestMatches(CMS_ContentInfo* cms, const std::array<uint8_t, 32>& digest) {
  STACK_OF(CMS_SignerInfo)* infos = CMS_get0_SignerInfos(cms);
  if (!infos || sk_CMS_SignerInfo_num(infos) < 1) return std::nullopt;
  bool same = true;
  for (int i = 0; i < sk_CMS_SignerInfo_num(infos); ++i) {
    CMS_SignerInfo* info = sk_CMS_SignerInfo_value(infos, i);
    X509_ALGOR* algorithm = nullptr;
    CMS_SignerInfo_get0_algs(info, nullptr, nullptr, &algorithm, nullptr);
    if (!algorithm || OBJ_obj2nid(algorithm->algorithm) != NID_sha256) return std::nullopt;
    if (CMS_signed_get_attr_count(info) < 0) return std::nullopt;
    const auto* value = static_cast<const ASN1_OCTET_STRING*>(
        CMS_signed_get0_data_by_OBJ(info, OBJ_nid2obj(NID_pkcs9_messageDigest), -3, V_ASN1_OCTET_STRING));
    if (!value || ASN1_STRING_length(value) != static_cast<int>(digest.size()) ||
        std::memcmp(ASN1_STRING_get0_data(value), digest.data(), digest.size()) != 0) {
      same = false;
    }
  }
  return same;
}

// Checks a DER signature: over `content`, or, with `digest`, over that digest of the content
// (then `needContent` tells when the signature cannot be checked that way).
ESignatureCheck CheckSignature(const std::string& signature, const std::filesystem::path& trustStore,
                               BIO* content, const std::array<uint8_t, 32>* digest, SignerInfo& signer,
                               bool* needContent) {
  const auto* der = reinterpret_cast<const unsigned char*>(signature.data());
  const auto length = static_cast<long>(signature.size());
  Cms cms(d2i_CMS_ContentInfo(nullptr, &der, length));
  if (!cms || der != reinterpret_cast<const unsigned char*>(signature.data()) + length) {
    ERR_clear_error();
    return ESignatureCheck::Untrusted;
  }

  Store store(X509_STORE_new());
  if (!store || X509_STORE_load_file(store.get(), trustStore.c_str()) != 1) {
    ERR_clear_error();
    return ESignatureCheck::Error;
  }
  X509_STORE_set_flags(store.get(), X509_V_FLAG_NO_CHECK_TIME);
  X509_STORE_set_purpose(store.get(), X509_PURPOSE_ANY);

  unsigned int flags = CMS_BINARY;
  Bio none;
  bool digestSame = false;
  if (digest) {
    const auto matches = DigestMatches(cms.get(), *digest);
    if (!matches) {
      *needContent = true;
      return ESignatureCheck::Untrusted;
    }
    digestSame = *matches;
    // The signed attributes' signature, the chain and the usage are checked below; the
    // content's digest was compared above.
    none.reset(BIO_new_mem_buf("", 0));
    if (!none) return ESignatureCheck::Error;
    content = none.get();
    flags |= CMS_NO_CONTENT_VERIFY;
  }
  // The chain is built only from the certificates carried in the signature.
  if (CMS_verify(cms.get(), nullptr, store.get(), content, nullptr, flags) != 1) {
    ERR_clear_error();
    return ESignatureCheck::Untrusted;
  }
  if (digest && !digestSame) return ESignatureCheck::Untrusted;
  Signers signers(CMS_get0_signers(cms.get()));
  if (!signers || sk_X509_num(signers.get()) < 1) return ESignatureCheck::Untrusted;
  for (int i = 0; i < sk_X509_num(signers.get()); ++i) {
    X509* cert = sk_X509_value(signers.get(), i);
    // OpenSSL 3.0 has no code-signing purpose: the extended key usage must name it.
    if ((X509_get_extension_flags(cert) & EXFLAG_XKUSAGE) == 0 ||
        (X509_get_extended_key_usage(cert) & XKU_CODE_SIGN) == 0) {
      return ESignatureCheck::Untrusted;
    }
  }
  ReadSigner(sk_X509_value(signers.get(), 0), signer);
  return ESignatureCheck::Trusted;
}

}  // namespace

struct CContentDigester::Context {
  EVP_MD_CTX* ctx = nullptr;
  ~Context() { EVP_MD_CTX_free(ctx); }
};

CContentDigester::CContentDigester() : m_context(std::make_unique<Context>()) {
  m_context->ctx = EVP_MD_CTX_new();
  Reset();
}

CContentDigester::~CContentDigester() = default;

bool CContentDigester::Reset() {
  m_head = m_count = 0;
  m_total = m_direct = 0;
  m_failed = !m_context->ctx || EVP_DigestInit_ex(m_context->ctx, EVP_sha256(), nullptr) != 1;
  return !m_failed;
}

bool CContentDigester::Feed(const uint8_t* data, size_t size) {
  if (size > 0 && EVP_DigestUpdate(m_context->ctx, data, size) != 1) m_failed = true;
  return !m_failed;
}

// Hashes the `count` oldest held-back bytes and lets them go.
bool CContentDigester::Evict(size_t count) {
  const size_t first = std::min(count, kHeldBack - m_head);
  if (!Feed(m_ring.data() + m_head, first) || !Feed(m_ring.data(), count - first)) return false;
  m_head = (m_head + count) % kHeldBack;
  m_count -= count;
  return true;
}

void CContentDigester::Expect(uint64_t size) {
  if (m_total == 0 && size > kHeldBack) m_direct = size - kHeldBack;
}

bool CContentDigester::Update(const uint8_t* data, size_t size) {
  if (m_failed) return false;
  if (m_total < m_direct) {
    const size_t direct = static_cast<size_t>(std::min<uint64_t>(size, m_direct - m_total));
    if (!Feed(data, direct)) return false;
    m_total += direct;
    data += direct;
    size -= direct;
    if (size == 0) return true;
  }
  if (m_ring.empty()) m_ring.resize(kHeldBack);
  m_total += size;
  if (size >= kHeldBack) {
    // Everything held back and the front of these bytes are content; their end is held back.
    if (!Evict(m_count) || !Feed(data, size - kHeldBack)) return false;
    std::memcpy(m_ring.data(), data + size - kHeldBack, kHeldBack);
    m_head = 0;
    m_count = kHeldBack;
    return true;
  }
  if (m_count + size > kHeldBack && !Evict(m_count + size - kHeldBack)) return false;
  const size_t tail = (m_head + m_count) % kHeldBack;
  const size_t first = std::min(size, kHeldBack - tail);
  std::memcpy(m_ring.data() + tail, data, first);
  std::memcpy(m_ring.data(), data + first, size - first);
  m_count += size;
  return true;
}

std::optional<ContentDigest> CContentDigester::Finish() {
  if (m_failed) return std::nullopt;
  ContentDigest result;
  result.fileSize = m_total;
  // The held-back bytes in order.
  std::string held(m_count, '\0');
  const size_t first = std::min(m_count, kHeldBack - m_head);
  if (m_count > 0) {
    std::memcpy(held.data(), m_ring.data() + m_head, first);
    std::memcpy(held.data() + first, m_ring.data(), m_count - first);
  }
  if (m_total < kTailSize) {
    result.state = ContentDigest::EState::Unsigned;
    return result;
  }
  if (held.size() < kTailSize) return result;  // shorter than announced: Unknown
  const auto* tail = reinterpret_cast<const uint8_t*>(held.data() + held.size() - kTailSize);
  const uint32_t signatureLength = SignatureLength(tail, m_total);
  if (signatureLength == 0) {
    result.state = ContentDigest::EState::Unsigned;
    return result;
  }
  if (uint64_t{signatureLength} + kTailSize > held.size()) return result;  // Unknown
  const size_t contentHeld = held.size() - kTailSize - signatureLength;
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!Feed(reinterpret_cast<const uint8_t*>(held.data()), contentHeld) ||
      EVP_DigestFinal_ex(m_context->ctx, value, &length) != 1 || length != result.sha256.size()) {
    m_failed = true;
    return std::nullopt;
  }
  m_failed = true;  // finished: a new digest needs Reset
  std::memcpy(result.sha256.data(), value, length);
  result.contentLength = m_total - kTailSize - signatureLength;
  result.signature = held.substr(contentHeld, signatureLength);
  result.state = ContentDigest::EState::Ready;
  return result;
}

ESignatureCheck VerifyFileSignature(const std::filesystem::path& file,
                                    const std::filesystem::path& trustStore, SignerInfo& signer) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return ESignatureCheck::Error;
  in.seekg(0, std::ios::end);
  const auto end = in.tellg();
  if (end < 0) return ESignatureCheck::Error;
  const auto size = static_cast<uint64_t>(end);

  // Magic text and trailer at the end.
  char tail[kTailSize];
  if (size < sizeof tail) return ESignatureCheck::Untrusted;
  in.seekg(static_cast<std::streamoff>(size - sizeof tail));
  if (!in.read(tail, sizeof tail)) return ESignatureCheck::Error;
  const uint32_t signatureLength = SignatureLength(reinterpret_cast<const uint8_t*>(tail), size);
  if (signatureLength == 0) return ESignatureCheck::Untrusted;
  const uint64_t contentLength = size - sizeof tail - signatureLength;

  std::string signature(signatureLength, '\0');
  in.seekg(static_cast<std::streamoff>(contentLength));
  if (!in.read(signature.data(), signatureLength)) return ESignatureCheck::Error;

  in.clear();
  in.seekg(0);
  FileSlice slice{&in, contentLength};
  Bio content(BIO_new(SliceMethod()));
  if (!content) return ESignatureCheck::Error;
  BIO_set_data(content.get(), &slice);
  return CheckSignature(signature, trustStore, content.get(), nullptr, signer, nullptr);
}

ESignatureCheck VerifyFileSignature(const std::filesystem::path& file, const ContentDigest& digest,
                                    const std::filesystem::path& trustStore, SignerInfo& signer) {
  switch (digest.state) {
    case ContentDigest::EState::Unsigned:
      return ESignatureCheck::Untrusted;
    case ContentDigest::EState::Unknown:
      return VerifyFileSignature(file, trustStore, signer);
    case ContentDigest::EState::Ready:
      break;
  }
  bool needContent = false;
  const ESignatureCheck result =
      CheckSignature(digest.signature, trustStore, nullptr, &digest.sha256, signer, &needContent);
  // Another digest algorithm: a second pass over the file.
  return needContent ? VerifyFileSignature(file, trustStore, signer) : result;
}

}  // namespace Platform

#include "platform/signature.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>

#include "platform/text.h"

namespace Platform {

namespace {

constexpr char kMagic[] = "~Module signature appended~\n";
constexpr size_t kMagicSize = sizeof(kMagic) - 1;
constexpr size_t kTrailerSize = 12;
constexpr uint8_t kIdTypePkcs7 = 2;

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

}  // namespace

ESignatureCheck VerifyFileSignature(const std::filesystem::path& file,
                                    const std::filesystem::path& trustStore, SignerInfo& signer) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return ESignatureCheck::Error;
  in.seekg(0, std::ios::end);
  const auto end = in.tellg();
  if (end < 0) return ESignatureCheck::Error;
  const auto size = static_cast<uint64_t>(end);

  // Magic text and trailer at the end.
  char tail[kTrailerSize + kMagicSize];
  if (size < sizeof tail) return ESignatureCheck::Untrusted;
  in.seekg(static_cast<std::streamoff>(size - sizeof tail));
  if (!in.read(tail, sizeof tail)) return ESignatureCheck::Error;
  if (std::memcmp(tail + kTrailerSize, kMagic, kMagicSize) != 0) return ESignatureCheck::Untrusted;
  const auto* trailer = reinterpret_cast<const uint8_t*>(tail);
  const uint32_t signatureLength = (uint32_t{trailer[8]} << 24) | (uint32_t{trailer[9]} << 16) |
                                   (uint32_t{trailer[10]} << 8) | uint32_t{trailer[11]};
  const uint64_t signedEnd = size - sizeof tail;
  if (trailer[2] != kIdTypePkcs7 || signatureLength == 0 || signatureLength > signedEnd ||
      signatureLength > (1u << 24)) {
    return ESignatureCheck::Untrusted;
  }
  const uint64_t contentLength = signedEnd - signatureLength;

  std::string signature(signatureLength, '\0');
  in.seekg(static_cast<std::streamoff>(contentLength));
  if (!in.read(signature.data(), signatureLength)) return ESignatureCheck::Error;
  const auto* der = reinterpret_cast<const unsigned char*>(signature.data());
  Cms cms(d2i_CMS_ContentInfo(nullptr, &der, signatureLength));
  if (!cms || der != reinterpret_cast<const unsigned char*>(signature.data()) + signatureLength) {
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

  in.clear();
  in.seekg(0);
  FileSlice slice{&in, contentLength};
  Bio content(BIO_new(SliceMethod()));
  if (!content) return ESignatureCheck::Error;
  BIO_set_data(content.get(), &slice);
  // The chain is built only from the certificates carried in the signature.
  if (CMS_verify(cms.get(), nullptr, store.get(), content.get(), nullptr, CMS_BINARY) != 1) {
    ERR_clear_error();
    return ESignatureCheck::Untrusted;
  }
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

}  // namespace Platform

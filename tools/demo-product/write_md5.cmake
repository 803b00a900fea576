# cmake -DIN=<file> -DOUT=<header> -P write_md5.cmake: a header with the file's MD5 digest.
file(MD5 "${IN}" digest)
file(WRITE "${OUT}" "// Made at build time: MD5 digest of the signed demo product installer.\n#define OMK_DEMO_FALLBACK_MD5 \"${digest}\"\n")

# signed_release.sh CMAKE BUILD_DIR WORK_DIR: each program signed with a throwaway certificate verifies.
set -euo pipefail
rm -rf "$3" && mkdir -p "$3" && cd "$3" && echo throwaway >password
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=throwaway \
  -addext extendedKeyUsage=codeSigning -keyout key.pem -out cert.pem
openssl pkcs12 -export -inkey key.pem -in cert.pem -passout file:password -out signer.p12
QLX_SIGN_PKCS12=signer.p12 QLX_SIGN_PASSWORD_FILE=password QLX_SIGN_TIMESTAMP_URL= \
  "$1" --install "$2" --prefix files && cd files
for program in *.exe; do
  osslsigncode verify -CAfile ../cert.pem -in "$program" | grep "Message digest algorithm *: SHA256"
done
sha256sum -c SHA256SUMS  # summed after signing

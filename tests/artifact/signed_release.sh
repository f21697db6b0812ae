# Installs the package with signing on, with a throwaway certificate made
# here, and fails unless each program's signature (SHA-256) verifies against
# that certificate and SHA256SUMS holds for the signed files.
#   sh signed_release.sh CMAKE BUILD_DIR WORK_DIR
set -eu
cmake=$1 build=$2 work=$3
rm -rf "$work" && mkdir -p "$work" && cd "$work"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=qlxpatch throwaway signer" \
  -addext extendedKeyUsage=codeSigning -keyout key.pem -out cert.pem
echo throwaway >password
openssl pkcs12 -export -inkey key.pem -in cert.pem -passout file:password -out signer.p12
QLX_SIGN_PKCS12=$work/signer.p12 QLX_SIGN_PASSWORD_FILE=$work/password QLX_SIGN_TIMESTAMP_URL= \
  "$cmake" --install "$build" --prefix "$work/files"
cd files
for program in *.exe; do
  verified=$(osslsigncode verify -CAfile ../cert.pem -in "$program") || { echo "$verified"; exit 1; }
  echo "$verified" | grep "^Message digest algorithm *: SHA256"
done
sha256sum -c SHA256SUMS

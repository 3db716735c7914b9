# Authenticode signing for scripts/package (and its test), with osslsigncode and SHA-256.
# The certificate comes from the environment, under names build servers can rely on:
#   QMX_SIGN_PFX + QMX_SIGN_PASSWORD_FILE    a PFX file and a file holding its password, or
#   QMX_SIGN_PKCS11_MODULE + QMX_SIGN_KEY + QMX_SIGN_CERT
#                                            a PKCS#11 module, the key's PKCS#11 URI and
#                                            the certificate (chain) file;
#   QMX_SIGN_TIMESTAMP_URL                   optional: an RFC 3161 timestamp server.
# shellcheck shell=bash

# signing_setup: sets sign_options for osslsigncode and sign_kinds, the package kinds it
# needs, or leaves both empty (and says so in one line) when no certificate is named. A
# certificate named only in part, or whose files cannot be read, is an error.
signing_setup() {
    sign_options=() sign_kinds=(sign)
    local what
    if [ -n "${QMX_SIGN_PFX:-}" ] && [ -n "${QMX_SIGN_PKCS11_MODULE:-}" ]; then
        say "FAILED: both QMX_SIGN_PFX and QMX_SIGN_PKCS11_MODULE are set; name one certificate"
        return 1
    elif [ -n "${QMX_SIGN_PFX:-}" ]; then
        [ -r "$QMX_SIGN_PFX" ] || { say "FAILED: QMX_SIGN_PFX: cannot read $QMX_SIGN_PFX"; return 1; }
        [ -n "${QMX_SIGN_PASSWORD_FILE:-}" ] && [ -r "$QMX_SIGN_PASSWORD_FILE" ] ||
            { say "FAILED: QMX_SIGN_PFX needs QMX_SIGN_PASSWORD_FILE, a readable file holding its password"; return 1; }
        sign_options=(-pkcs12 "$QMX_SIGN_PFX" -readpass "$QMX_SIGN_PASSWORD_FILE")
        what=$QMX_SIGN_PFX
    elif [ -n "${QMX_SIGN_PKCS11_MODULE:-}" ]; then
        [ -n "${QMX_SIGN_KEY:-}" ] && [ -n "${QMX_SIGN_CERT:-}" ] && [ -r "$QMX_SIGN_CERT" ] ||
            { say "FAILED: QMX_SIGN_PKCS11_MODULE needs QMX_SIGN_KEY (the key's PKCS#11 URI) and QMX_SIGN_CERT (a readable certificate file)"; return 1; }
        sign_options=(-pkcs11module "$QMX_SIGN_PKCS11_MODULE" -key "$QMX_SIGN_KEY" -certs "$QMX_SIGN_CERT")
        sign_kinds=(sign sign_pkcs11)
        what="$QMX_SIGN_KEY through $QMX_SIGN_PKCS11_MODULE"
    else
        say "no certificate (neither QMX_SIGN_PFX nor QMX_SIGN_PKCS11_MODULE is set): the package is built unsigned"
        sign_kinds=()
        return 0
    fi
    [ -z "${QMX_SIGN_TIMESTAMP_URL:-}" ] || sign_options+=(-ts "$QMX_SIGN_TIMESTAMP_URL")
    say "signing with $what (SHA-256${QMX_SIGN_TIMESTAMP_URL:+, timestamped by $QMX_SIGN_TIMESTAMP_URL})"
}

# sign_into FILE COPY: COPY is FILE signed (a plain copy when unsigned); FILE stays as it is.
sign_into() {
    local log
    mkdir -p "$(dirname "$2")"
    if [ ${#sign_options[@]} -eq 0 ]; then
        cp "$1" "$2"
        return
    fi
    rm -f "$2"
    log=$(mktemp)
    if ! osslsigncode sign "${sign_options[@]}" -h sha256 -n QMXClicker -in "$1" -out "$2" >"$log" 2>&1; then
        say "FAILED: signing $1:"
        sed 's/^/   /' "$log" >&2
        rm -f "$log" "$2"
        return 1
    fi
    rm -f "$log"
}

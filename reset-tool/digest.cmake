# Writes the SHA-256 digest of the linked reset tool into a header, touching
# it only when the digest changed.
file(SHA256 "${TOOL}" digest)
file(WRITE "${HEADER}.new" "#pragma once\n\n#define SONOREL_RESET_TOOL_DIGEST \"${digest}\"\n")
file(COPY_FILE "${HEADER}.new" "${HEADER}" ONLY_IF_DIFFERENT)
file(REMOVE "${HEADER}.new")

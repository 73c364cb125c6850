#include "adc/tiger.h"

#include "platform.h"

#ifdef HAVE_LIBGCRYPT

#include <gcrypt.h>

namespace {

// The library wants to be told it is set up before it is used; hashing
// needs no secure memory.
void initialiseOnce() {
    static const bool initialised = [] {
        gcry_check_version(nullptr);
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    (void)initialised;
}

}  // namespace

bool tigerAvailable() { return true; }

std::string tigerHash(std::string_view bytes) {
    initialiseOnce();
    std::string digest(kTigerBytes, '\0');
    gcry_md_hash_buffer(GCRY_MD_TIGER1, digest.data(), bytes.data(), bytes.size());
    return digest;
}

#else

bool tigerAvailable() { return false; }

std::string tigerHash(std::string_view) { return std::string(); }

#endif

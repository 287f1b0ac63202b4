// Test fixtures for the picture registry: the registry as a test found it
// comes back when the test ends, whatever the test registered or removed.
#pragma once

#include "app/Codecs.h"
#include "platform/core/Graphics.h"

namespace testpics {

class RegistryGuard {
public:
    RegistryGuard() : saved_(TPicture::SaveRegistry()) {}
    ~RegistryGuard() { TPicture::RestoreRegistry(saved_); }
    RegistryGuard(const RegistryGuard&) = delete;
    RegistryGuard& operator=(const RegistryGuard&) = delete;

private:
    TPicture::TRegistryState saved_;
};

// The program's codecs registered for the length of a scope.
class CodecsRegistered {
public:
    CodecsRegistered() { RegisterPictureCodecs(); }
    ~CodecsRegistered() { UnregisterPictureCodecs(); }

private:
    RegistryGuard guard_;  // restored after the unregistration above
};

}  // namespace testpics

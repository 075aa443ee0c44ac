#pragma once
// The lock one running instance holds on its settings store, whatever its file name.

namespace lumora::platform {

enum class InstanceLock {
    Held,           // this process holds it (from now until it ends)
    HeldByAnother,  // another process of this user runs on the same store
    Unavailable,    // no place for the lock could be made: nobody can tell
};

// Takes the lock when it is free. It lives in $XDG_RUNTIME_DIR (when that is an absolute
// folder of this user), named after the store's folder, else beside the store in the
// configuration folder. Asking again in a process that holds it answers Held.
InstanceLock takeInstanceLock();

}  // namespace lumora::platform

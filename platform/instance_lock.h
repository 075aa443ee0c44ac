#pragma once
// The lock one running instance holds on its settings store, whatever its file name.

namespace lumora::platform {

enum class InstanceLock {
    Held,           // this process holds it (from now until it ends)
    HeldByAnother,  // another process of this user runs on the same store
    HeldByCommand,  // a one-off command holds it for the moment of its capture
    Unavailable,    // no place for the lock could be made: nobody can tell
};

// Who takes the lock: the program, or a one-off command that captures once and ends.
enum class LockHolder { Instance, Command };

// Takes the lock when it is free. It lives in $XDG_RUNTIME_DIR (when that is an absolute
// folder of this user), named after the store's folder, else beside the store in the
// configuration folder. Asking again in a process that holds it answers Held. The holder's kind
// is written into the lock file, so that another process can tell a one-off command (which is
// gone within seconds) from a running program.
InstanceLock takeInstanceLock(LockHolder as = LockHolder::Instance);

}  // namespace lumora::platform

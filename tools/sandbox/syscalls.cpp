// The seccomp filters of mvx's processes: one for all of mvx, a narrower one for a reader.
#include "sandbox/syscalls.h"

#include <seccomp.h>

#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <initializer_list>

namespace {

// System calls a reader never needs; each denied outright.
const int never_needed[] = {
    SCMP_SYS(socket), SCMP_SYS(socketpair),                                  // any network, any family
    SCMP_SYS(execve), SCMP_SYS(execveat), SCMP_SYS(fork), SCMP_SYS(vfork),   // other programs, other processes
    SCMP_SYS(ptrace), SCMP_SYS(process_vm_readv), SCMP_SYS(process_vm_writev), SCMP_SYS(kcmp),
    SCMP_SYS(pidfd_open), SCMP_SYS(pidfd_getfd), SCMP_SYS(pidfd_send_signal), SCMP_SYS(tkill),
    SCMP_SYS(keyctl), SCMP_SYS(add_key), SCMP_SYS(request_key),
    SCMP_SYS(mount), SCMP_SYS(umount2), SCMP_SYS(pivot_root), SCMP_SYS(chroot), SCMP_SYS(unshare), SCMP_SYS(setns),
    SCMP_SYS(bpf), SCMP_SYS(perf_event_open), SCMP_SYS(userfaultfd),
    SCMP_SYS(io_uring_setup), SCMP_SYS(io_uring_enter), SCMP_SYS(io_uring_register),  // its work escapes this filter
    SCMP_SYS(init_module), SCMP_SYS(finit_module), SCMP_SYS(delete_module), SCMP_SYS(kexec_load),
    SCMP_SYS(kexec_file_load), SCMP_SYS(reboot), SCMP_SYS(swapon), SCMP_SYS(swapoff), SCMP_SYS(acct),
};

int deny(int nr) { return nr == SCMP_SYS(socket) || nr == SCMP_SYS(socketpair) ? EACCES : EPERM; }

}  // namespace

void forbid_internet() {
    scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_ALLOW);
    if (!ctx) return;
    // Every thread, those a library may have started already included.
    bool ok = seccomp_attr_set(ctx, SCMP_FLTATR_CTL_TSYNC, 1) == 0;
    for (const int family : {AF_INET, AF_INET6}) {
        // socket()'s first argument, an int: its low 32 bits.
        const scmp_arg_cmp is_family = {0, SCMP_CMP_MASKED_EQ, 0xffffffffULL, static_cast<scmp_datum_t>(family)};
        ok = ok && seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EACCES), SCMP_SYS(socket), 1, is_family) == 0;
    }
    if (ok) seccomp_load(ctx);
    seccomp_release(ctx);
}

Status confine_syscalls(bool &enforced) {
    enforced = false;
    scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_ALLOW);
    if (!ctx) return {};
    const scmp_datum_t self = static_cast<scmp_datum_t>(getpid());
    int rc = seccomp_attr_set(ctx, SCMP_FLTATR_CTL_TSYNC, 1);
    for (const int nr : never_needed) rc = rc ? rc : seccomp_rule_add(ctx, SCMP_ACT_ERRNO(deny(nr)), nr, 0);
    // Threads, not processes: clone without CLONE_THREAD is a fork. clone3's flags lie in memory a
    // filter cannot read; without it the C library falls back to clone.
    if (!rc) rc = seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(clone), 1, SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, 0));
    if (!rc) rc = seccomp_rule_add(ctx, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0);
    // Signals to this process only (abort() raises one).
    for (const int nr : {SCMP_SYS(kill), SCMP_SYS(tgkill), SCMP_SYS(rt_sigqueueinfo), SCMP_SYS(rt_tgsigqueueinfo)})
        if (!rc) rc = seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EPERM), nr, 1, SCMP_A0(SCMP_CMP_NE, self));
    // Typing into the terminal the user runs mvx from.
    for (const unsigned long request : {TIOCSTI, TIOCLINUX})
        if (!rc) rc = seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(ioctl), 1, SCMP_A1(SCMP_CMP_MASKED_EQ, 0xffffffffULL, request));
    if (!rc) rc = seccomp_load(ctx);
    seccomp_release(ctx);
    if (rc) return Status::fail(std::string("seccomp: the filter was refused: ") + std::strerror(-rc));
    enforced = true;
    return {};
}

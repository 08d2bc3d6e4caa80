// The seccomp filters of mvx's processes.
#include "syscalls.h"

#include <seccomp.h>

#include <sys/socket.h>

#include <cerrno>
#include <initializer_list>

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

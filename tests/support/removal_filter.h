#pragma once

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <cstddef>
#include <cstdint>

// From here on the calling thread's removals of a file fail with the errno in `action`
// (SECCOMP_RET_ERRNO | e) or end the process there (SECCOMP_RET_KILL_PROCESS), root or
// not; other threads are not touched. False when the kernel refused the filter.
inline bool refuseRemoval(std::uint32_t action) {
#ifdef __NR_unlink
    constexpr long unlinkCall = __NR_unlink;
#else
    constexpr long unlinkCall = __NR_unlinkat;  // the only removal call there
#endif
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, unlinkCall, 1, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_unlinkat, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, action),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog program{sizeof filter / sizeof filter[0], filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

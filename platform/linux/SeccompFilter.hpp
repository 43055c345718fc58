// The system-call filter of an image's tools, built once in the parent as a BPF program that
// the child hands to the kernel just before exec (building it there would allocate).
#pragma once

#include <linux/filter.h>

#include <vector>

namespace strandel::platform::live {

/// The filter's program; empty when it can't be built (then nothing may start under it).
/// Refused with EPERM: terminal injection (TIOCSTI, TIOCLINUX), the keyrings, ptrace,
/// perf_event_open, bpf, io_uring (which would reach sockets past the filter), the kernel log,
/// the mount family and chroot, new namespaces (unshare, setns, namespace flags of clone;
/// clone3 answers ENOSYS so that the C library falls back to clone), SysV IPC, setpriority of
/// anyone but the caller, and every socket (no network, no path sockets of the host;
/// socketpair stays). Other architectures' calls kill.
std::vector<sock_filter> buildSeccompFilter();

}  // namespace strandel::platform::live

#pragma once
// The operating system version that start-up logs as "OS Version: %d.%d":
// here the kernel's major and minor numbers from uname. (The program's old
// Windows 95 warning and Windows XP serialisation never apply here.)

#include <string_view>

struct KernelVersion {
    int major = 0;
    int minor = 0;
};

// The numbers of a kernel release text such as "6.1.0-18-amd64": the leading
// decimal digits, then after a '.' the next ones. A missing or non-numeric
// part reads as 0; a number too large for int saturates at INT_MAX.
KernelVersion ParseKernelRelease(std::string_view release);

// The running kernel's version; 0.0 when uname fails.
KernelVersion CurrentKernelVersion();

#pragma once
// The operating system version that start-up logs as "OS Version: %d.%d":
// here the kernel's major and minor numbers from uname. They are never taken
// for a Windows version: a 5.1 kernel is not Windows XP, and a 4.0 kernel is
// not Windows 95.

#include <string_view>

struct KernelVersion {
    int major = 0;
    int minor = 0;
    // The Windows checks of start-up; always false on this system.
    bool isWindows95 = false;
    bool isWindowsXp = false;
};

// The numbers of a kernel release text such as "6.1.0-18-amd64": the leading
// decimal digits, then after a '.' the next ones. A missing or non-numeric
// part reads as 0; a number too large for int saturates at INT_MAX.
KernelVersion ParseKernelRelease(std::string_view release);

// The running kernel's version; 0.0 when uname fails.
KernelVersion CurrentKernelVersion();

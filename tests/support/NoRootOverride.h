#pragma once

#include <QProcess>

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

// Root writes into any folder, read-only or not. While one of these lives,
// the calling thread obeys a folder's permissions as any user does, so a
// test run as root sees what a user sees in a folder they may not write.
class NoRootOverride
{
public:
    NoRootOverride() { setOverride(false); }
    ~NoRootOverride() { setOverride(true); }
    NoRootOverride(const NoRootOverride &) = delete;
    NoRootOverride &operator=(const NoRootOverride &) = delete;

    // For a program a test starts: it goes without the override from its start.
    static void dropInChild(QProcess &process)
    {
        process.setChildProcessModifier([] { ::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0); });
    }

private:
    static void setOverride(bool on)
    {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2]{};
        if (::syscall(SYS_capget, &header, data) != 0)
            return;
        const unsigned bit = 1u << CAP_DAC_OVERRIDE;
        data[0].effective = on ? data[0].effective | (data[0].permitted & bit) : data[0].effective & ~bit;
        ::syscall(SYS_capset, &header, data);
    }
};

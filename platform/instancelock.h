#pragma once

#include <QString>

// The single-instance guard: an exclusive lock on a file in the user's private runtime folder.
// Per user, so one user's program never keeps another's from starting; held by the open file,
// so the system lets go of it when the process ends, killed or not, and nothing stale is left.
class InstanceLock final
{
public:
    enum class Result { Acquired, HeldElsewhere, Failed };

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

    // Takes the lock on path (made when missing, its folder must exist). HeldElsewhere while
    // another process holds it; Failed with a reason when the file cannot be used.
    Result acquire(const QString &path, QString *error = nullptr);
    void release();

private:
    int fd = -1;
};

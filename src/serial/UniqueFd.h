#pragma once
// Owns a file descriptor and closes it at the end of its scope.

#include <unistd.h>

#include <utility>

class TUniqueFd {
public:
    TUniqueFd() = default;
    explicit TUniqueFd(int Fd) : FFd(Fd) {}
    ~TUniqueFd() { reset(); }
    TUniqueFd(TUniqueFd &&Other) noexcept : FFd(std::exchange(Other.FFd, -1)) {}
    TUniqueFd &operator=(TUniqueFd &&Other) noexcept {
        if (this != &Other) reset(std::exchange(Other.FFd, -1));
        return *this;
    }
    TUniqueFd(const TUniqueFd &) = delete;
    TUniqueFd &operator=(const TUniqueFd &) = delete;

    int get() const { return FFd; }
    explicit operator bool() const { return FFd >= 0; }
    int release() { return std::exchange(FFd, -1); }
    void reset(int Fd = -1) {
        if (FFd >= 0) ::close(FFd);
        FFd = Fd;
    }

private:
    int FFd = -1;
};

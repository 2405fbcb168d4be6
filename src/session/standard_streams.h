#pragma once

#include <streambuf>

namespace sorvanite {

// Standard input as the command loop reads it: straight from the
// descriptor, so a failing or non-blocking stream follows our own rules and
// never throws.
class StandardInputBuffer final : public std::streambuf {
protected:
    int_type underflow() override;

private:
    char buffer_[4096];
};

// Standard output, held until the command loop flushes it before each read
// and at exit.
class StandardOutputBuffer final : public std::streambuf {
public:
    StandardOutputBuffer() { setp(buffer_, buffer_ + sizeof buffer_); }
    ~StandardOutputBuffer() override { sync(); }

protected:
    int_type overflow(int_type c) override;
    int sync() override;

private:
    char buffer_[4096];
};

}  // namespace sorvanite

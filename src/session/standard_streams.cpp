#include "session/standard_streams.h"

#include "session/console.h"

namespace sorvanite {

StandardInputBuffer::int_type StandardInputBuffer::underflow() {
    std::size_t count = readStandardInput(buffer_, sizeof buffer_);
    if (count == 0) return traits_type::eof();
    setg(buffer_, buffer_, buffer_ + count);
    return traits_type::to_int_type(buffer_[0]);
}

StandardOutputBuffer::int_type StandardOutputBuffer::overflow(int_type c) {
    sync();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

int StandardOutputBuffer::sync() {
    writeStandardOutput(pbase(), static_cast<std::size_t>(pptr() - pbase()));
    setp(buffer_, buffer_ + sizeof buffer_);
    // Lost output is not the command loop's concern: never report failure.
    return 0;
}

}  // namespace sorvanite

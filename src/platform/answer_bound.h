// The upper size of a web answer.
//
// The largest answer the system's own limits allow is a bill or an order of
// a few hundred items: 200 rows of TAB-ITENS (more are read again in turn)
// at about 160 bytes a record, some 32 KB, and ten thousand items would
// still be under 2 MB. Anything past 4 MiB is a page gone wrong (a loop that
// never ends): the program writing it is stopped there and the answer is
// refused, so that neither the disk nor the memory fills up.
#pragma once

#include <cstdint>
#include <string_view>

namespace kav::platform {

inline constexpr std::uint64_t kMaxAnswerBytes = 4u * 1024u * 1024u;

// The answer file of the order exchange, watched while its batch file runs
// (Windows; on POSIX systems every program the runner starts may write no
// file larger than kMaxAnswerBytes + 1 bytes).
inline constexpr std::string_view kWatchedAnswerPath = "C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.RET";

}  // namespace kav::platform

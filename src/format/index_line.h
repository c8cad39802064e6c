#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "format/method_text.h"

namespace kolvaprof {

inline constexpr const char* kIndexFileName = "Index.dat";

// `Thread N="name"` and a line feed.
std::string makeIndexThreadLine(int32_t threadNumber, std::string_view name);
// `Method N=void a.b.C.run(int){` and a line feed.
std::string makeIndexMethodLine(int32_t number, const MethodText& method);

}  // namespace kolvaprof

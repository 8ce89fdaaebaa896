// Exported texts of the laboratory layer's codes.
#include <cstring>

#include "interface/lab_guard.h"
#include "messages/texts.h"

extern "C" {

QVXL_API void QVXL_CALL QVXL_TEXT(const int* KIND, const int* CODE, char* TEXT,
                                  const int* LENGTH, int* NEEDED, int* ISTAT) {
  using namespace quorvex::lab;
  guarded(ISTAT, [&] {
    const char* t = text_of(*KIND, *CODE);
    if (t == nullptr) return QVXL_BAD_CODE;
    if (*LENGTH < 1) return QVXL_BAD_COUNT;
    const std::size_t n = std::strlen(t);
    const std::size_t room = static_cast<std::size_t>(*LENGTH) - 1;
    const std::size_t k = n < room ? n : room;
    std::memcpy(TEXT, t, k);
    TEXT[k] = '\0';
    *NEEDED = static_cast<int>(n);
    return QVXL_OK;
  });
}

}  // extern "C"

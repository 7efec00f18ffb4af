#include "platform/com/com.h"

#include <cstring>

namespace platform::com {

namespace {
thread_local int initDepth = 0;
}

bool operator==(const GUID& a, const GUID& b) {
  return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
         std::memcmp(a.data4, b.data4, sizeof(a.data4)) == 0;
}

HRESULT CoInitialize(void*) { return ++initDepth == 1 ? S_OK : S_FALSE; }

void CoUninitialize() {
  if (initDepth > 0) --initDepth;
}

int CoInitializeDepth() { return initDepth; }

}  // namespace platform::com

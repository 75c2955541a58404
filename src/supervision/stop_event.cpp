#include "supervision/stop_event.h"

namespace supervision {

platform::unique_handle stop_event;

}  // namespace supervision

#pragma once

namespace service {

// The one name the service is known by to the Service Control Manager.
inline constexpr wchar_t service_name[] = L"quillmark_snaptel";

}  // namespace service

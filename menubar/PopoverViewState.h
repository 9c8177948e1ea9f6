// Which page the popover shows when it next opens: the no-password page, the password request
// page, or the main page with the locked applications.
#pragma once

enum class PopoverViewState { noPassword, requestPassword, running };

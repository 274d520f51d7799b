// Logging from a form, the one way every form does it: the text goes into
// L-LINK-TEXTO and the log form 99-LOG runs, which appends it to the day's
// log file.
#pragma once

#include <functional>
#include <string_view>

#include "form/form.h"
#include "log/l_link.h"

namespace kav::log {

// Blank-fills L-LINK-TEXTO with `text`, lets `show` put L-LINK-TEXTO on the
// form (a row of a list, a message box) when one is given, then runs the log
// form.
void log_from_form(form::FormContext& ctx, LLink& link, std::string_view text,
                   const std::function<void(std::string_view texto)>& show = {});

}  // namespace kav::log

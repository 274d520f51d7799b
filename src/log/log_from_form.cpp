#include "log/log_from_form.h"

#include "form/form_names.h"

namespace kav::log {

void log_from_form(form::FormContext& ctx, LLink& link, std::string_view text,
                   const std::function<void(std::string_view texto)>& show) {
  link.set_texto(text);
  if (show) show(link.texto());
  ctx.run_form_modal(form::kLogForm);
}

}  // namespace kav::log

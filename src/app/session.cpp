#include "app/session.h"

#include "log/log_form.h"
#include "record/cp1252.h"

namespace kav::app {

void LoggedStartForm::form_open(form::FormContext& ctx) {
  log_line(ctx, kStartText);
  if (files_ != nullptr) log::sync_log(*files_);
  start_.form_open(ctx);
}

void LoggedStartForm::form_close(form::FormContext& ctx) {
  start_.form_close(ctx);
  printing_.finish();
  if (ending_) ending_();
  log_line(ctx, kEndText);
}

void LoggedStartForm::log_line(form::FormContext& ctx, std::string_view utf8_text) {
  link_.set_texto(record::cp1252(utf8_text));
  ctx.run_form_modal("99-LOG");
}

Session::Session(Application& application)
    : start_(*application.forms().find(kStartForm), application.link(), application.print_service(),
             &application.files()) {
  for (form::Form* f : application.forms().all()) forms_.add(f == application.forms().find(kStartForm) ? start_ : *f);
}

}  // namespace kav::app

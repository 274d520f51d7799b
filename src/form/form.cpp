#include "form/form.h"

#include "record/area.h"
#include "record/cp1252.h"
#include "record/letter_case.h"

namespace kav::form {

std::string_view form_name(std::string_view name) { return record::trim_right(name); }

std::string unknown_form_text(std::string_view name) {
  return record::cp1252("Formulário \"") + std::string(form_name(name)) + record::cp1252("\" não encontrado !!!");
}

std::string handler_failure_text(std::string_view form) {
  return record::cp1252("Erro no formulário ") + std::string(form_name(form)) + " !!!";
}

std::string unknown_form_error(std::string_view name) {
  return "RunFormModal: there is no form named \"" + record::to_utf8(form_name(name)) + "\"";
}

std::string unknown_control_error(std::string_view form, std::string_view control) {
  return "form " + record::to_utf8(form_name(form)) + " has no control of that kind named \"" +
         record::to_utf8(form_name(control)) + "\"";
}

std::string handler_failure_error(std::string_view form, std::string_view what) {
  return "form " + record::to_utf8(form_name(form)) + ": a handler failed: " + std::string(what);
}

Form* FormSet::find(std::string_view name) const {
  const std::string_view wanted = form_name(name);
  for (Form* f : forms_) {
    if (record::same_letters(f->design().name, wanted)) return f;
  }
  return nullptr;
}

}  // namespace kav::form

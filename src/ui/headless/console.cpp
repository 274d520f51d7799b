#include <cstdio>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "record/area.h"
#include "record/cp1252.h"
#include "ui/headless/console_pacer.h"
#include "ui/headless/headless_runtime.h"

namespace kav::ui::headless {

namespace {
void print_line(std::initializer_list<std::string_view> pieces) {
  std::string text;
  for (std::string_view piece : pieces) text.append(piece);
  write_console_line(text);
}

std::string_view trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

// What follows a typed command: "99" of "c 99".
std::string_view row_number(std::string_view line) {
  const std::string_view typed = trim(line);
  const auto blank = typed.find(' ');
  return blank == std::string_view::npos ? std::string_view() : trim(typed.substr(blank));
}

// The failures (rows that end in " !!!") a form's status list printed, so
// that the same failure listed again by another form (the monitor lists a
// check's failures below the check's row once the check has ended) is
// printed once: a terminal has no windows to tell the two lists apart.
class Failures {
 public:
  // True when `text` repeats a failure another form printed (which it then
  // answers for); otherwise a failure of `form` is kept.
  bool repeated(std::string_view form, std::string_view text) {
    const std::string_view words = trim(text);
    if (words.empty()) return false;
    for (auto it = printed_.begin(); it != printed_.end(); ++it) {
      if (it->first != form && std::string_view(it->second).starts_with(words)) {
        printed_.erase(it);
        return true;
      }
    }
    if (!words.ends_with("!!!")) return false;
    printed_.emplace_back(form, words);
    if (printed_.size() > kKept) printed_.pop_front();
    return false;
  }

 private:
  static constexpr std::size_t kKept = 200;
  std::deque<std::pair<std::string, std::string>> printed_;
};

}  // namespace

void print_rows(HeadlessRuntime& runtime, std::function<void(const std::string& line)> print) {
  auto line = [print](std::string_view form, std::string_view list, std::string_view mark, std::string_view text) {
    std::string out;
    for (std::string_view piece : {std::string_view("["), form, std::string_view("] ")}) out.append(piece);
    if (!list.empty()) out.append(record::to_utf8(list)).append(": ");
    out.append(mark).append(record::to_utf8(record::trim_right(text)));
    print(out);
  };
  runtime.on_row_text = [line, failures = std::make_shared<Failures>()](std::string_view form, std::string_view list,
                                                                        std::string_view text) {
    if (list.empty() && failures->repeated(form, text)) return;
    line(form, list, {}, text);
  };
  runtime.on_row_removed = [line](std::string_view form, std::string_view list, std::string_view text) {
    line(form, list, "(fim) ", text);
  };
}

// Console mode keeps nothing but the open forms' state: no recorder, so its
// memory stays the same however long it runs, and no time limit.
int run_console(form::FormSet& forms, platform::CommandRunner& commands, std::string_view start_form) {
  auto pacer = make_console_pacer();
  HeadlessRuntime runtime(forms, commands, *pacer);
  print_rows(runtime, [](const std::string& line) { write_console_line(line); });
  runtime.on_message_box = [&](std::string_view form, std::string_view text, int style) {
    const char* kind = (style & form::kStyleIconMask) == form::kStyleError ? "ERRO" : "INFO";
    // The box is a line and nobody answers it: the checks go on.
    print_line({"[", form, "] (", kind, ") ", record::to_utf8(record::trim_right(text))});
  };
  runtime.on_question = [](std::string_view form, std::string_view text) {
    print_line({"[", form, "] (PERGUNTA) ", record::to_utf8(record::trim_right(text)),
                " Digite s (sim) ou n (não) + Enter."});
  };
  runtime.on_error = [](std::string_view message) { print_line({"kavcomanda: ", message}); };
  runtime.on_input = [&](std::string_view line) {
    switch (runtime.type_command(line)) {
      case HeadlessRuntime::Typed::pressed:
      case HeadlessRuntime::Typed::answered:
        break;
      case HeadlessRuntime::Typed::waiting:
        print_line({"kavcomanda: anotado; será feito ao fim da checagem em curso."});
        break;
      case HeadlessRuntime::Typed::blocked:
        print_line({"kavcomanda: ocupado (", runtime.innermost()->name, " aberto); tente de novo quando fechar."});
        break;
      case HeadlessRuntime::Typed::no_row:
        print_line({"kavcomanda: não há linha ", row_number(line), " na lista",
                    runtime.typed_rows() == 0 ? std::string(", que está vazia")
                                              : " (linhas 1 a " + std::to_string(runtime.typed_rows()) + ")",
                    "; nada foi feito."});
        break;
      case HeadlessRuntime::Typed::not_a_row:
        print_line({"kavcomanda: \"", row_number(line), "\" não é o número de uma linha (por exemplo \"t 3\"); nada foi feito."});
        break;
      case HeadlessRuntime::Typed::unknown:
        if (const std::string_view typed = trim(line); !typed.empty()) {
          print_line({"kavcomanda: \"", typed, "\" não é um comando."});
        }
        if (runtime.open_forms().size() > 1 && runtime.innermost()->design->closes_on_request) {
          // A form the operator opened: its own buttons, a row's number after them.
          print_line({"Comandos de ", runtime.innermost()->name, ": ", runtime.commands_help(false),
                      " (seguido do número da linha, por exemplo \"t 3\")."});
        } else {
          print_line({"Comandos: ", runtime.commands_help(), "."});
        }
        break;
    }
  };
  runtime.on_close = [&](std::string_view form) {
    // A form the operator opened says it has closed: its list's commands are gone.
    const FormRecord* closing = runtime.innermost();
    if (closing == nullptr || closing->name != form || !closing->design->closes_on_request) return;
    print_line({"[", form, "] Fechado: ", record::to_utf8(record::trim_right(closing->design->caption)), "."});
  };
  pacer->on_input_end = [&] {
    if (!pacer->interactive()) return;
    print_line({"Fim da entrada: o monitor continua; Ctrl-C (ou SIGTERM) encerra como \"Sair\"."});
  };
  pacer->on_stop = [] { print_line({"kavcomanda: pedido de parada; encerrando como \"Sair\"."}); };

  print_line({"KavComanda - modo console. Digite e ou exportar + Enter = \"Exportar Cadastros\", r ou reimprimir + "
              "Enter = \"Reimprimir\" (lista os tickets recentes, numerados; depois t N reimprime o ticket N, c N "
              "os tickets da comanda do ticket N do mesmo tipo, toda N todos os tickets dessa comanda, f fecha a "
              "lista), s ou sair + Enter = \"Sair\"; Ctrl-C "
              "também encerra."});
  return runtime.run(start_form);
}

}  // namespace kav::ui::headless

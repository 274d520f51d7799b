#include "printing/printer_profiles.h"

#include "platform/print/spool_store.h"
#include "record/cp1252.h"
#include "settings/kav_settings.h"

namespace kav::printing {

namespace {

using platform::print::Buzzer;
using platform::print::CodePage;
using platform::print::Cut;
namespace key = settings::key;

int number(const std::string& text, int fallback) {
  const auto n = settings::as_number(text);
  return n ? static_cast<int>(*n) : fallback;
}

}  // namespace

std::string_view mode_name(PrintMode mode) {
  switch (mode) {
    case PrintMode::driver: return "driver";
    case PrintMode::escpos: return "escpos";
    case PrintMode::network: return "escpos-rede";
  }
  return {};
}

PrinterProfiles::PrinterProfiles(const settings::Settings& s) : found_(s.found), problems_(s.problems) {
  const auto schema = settings::kav_schema();
  for (const auto& section : s.sections) {
    if (section.kind != settings::kPrinterSection) continue;
    const auto value = [&](std::string_view k) { return s.value(schema, section.kind, section.name, k); };
    PrinterProfile p;
    p.printer = section.name;
    const std::string mode = value(key::modo);
    p.mode = mode == "escpos" ? PrintMode::escpos : mode == "escpos-rede" ? PrintMode::network : PrintMode::driver;
    p.backup = value(key::reserva);
    p.backup_after = std::chrono::minutes(number(value(key::minutos_reserva), 2));
    p.late_after = std::chrono::minutes(number(value(key::minutos_atraso), 3));
    bool refused = section.refused;
    const std::string address = value(key::endereco);
    if (!refused && p.mode == PrintMode::network && address.empty()) {
      problems_.push_back(std::string(settings::kConfigName) + ", linha " + std::to_string(section.line) +
                          ": [impressora " + section.name + record::cp1252("] em escpos-rede sem endereço"));
      refused = true;
    }
    if (!refused && p.mode != PrintMode::network && !address.empty()) {
      problems_.push_back(std::string(settings::kConfigName) + ", linha " + std::to_string(section.line) +
                          ": [impressora " + section.name + record::cp1252("] endereço só vale em escpos-rede"));
      refused = true;
    }
    if (refused) {
      refused_.push_back(section.name);
      p.mode = PrintMode::driver;
      profiles_.push_back(std::move(p));
      continue;
    }
    auto& e = p.escpos;
    e.columns = number(value(key::colunas), 48);
    const std::string page = value(key::pagina_codigo);
    for (const CodePage c : platform::print::kCodePages) {
      if (platform::print::code_page_name(c) == page) e.code_page = c;
    }
    const std::string cut = value(key::corte);
    e.cut = cut == "total" ? Cut::full : cut == "nao" ? Cut::none : Cut::partial;
    e.feed_lines = number(value(key::avanco), 4);
    const std::string buzzer = value(key::aviso_sonoro);
    e.buzzer = buzzer == "esc-b"              ? Buzzer::esc_b
               : buzzer == "esc-parenteses-a" ? Buzzer::esc_parenteses_a
               : buzzer == "bel"              ? Buzzer::bel
                                              : Buzzer::none;
    e.big_number = value(key::numero_grande) != "nao";
    e.copies = number(value(key::copias), 1);
    if (const auto a = settings::as_address(address)) {
      p.host = a->host;
      p.port = a->port;
    }
    profiles_.push_back(std::move(p));
  }
  for (const auto& name : refused_) {
    problems_.push_back("Impressora " + name + record::cp1252(": configuração recusada; imprime pelo driver"));
  }
}

PrinterProfile PrinterProfiles::of(std::string_view printer) const {
  for (const auto& p : profiles_) {
    if (platform::print::printer_key(p.printer) == platform::print::printer_key(printer)) return p;
  }
  PrinterProfile p;
  p.printer = std::string(platform::print::printer_name(printer));
  return p;
}

std::vector<std::string> PrinterProfiles::describe(const PrinterProfile& p) {
  std::vector<std::string> lines;
  lines.push_back("modo = " + std::string(mode_name(p.mode)));
  if (p.mode == PrintMode::driver) return lines;
  const auto& e = p.escpos;
  lines.push_back("colunas = " + std::to_string(e.columns));
  lines.push_back("pagina_codigo = " + std::string(platform::print::code_page_name(e.code_page)));
  lines.push_back(std::string("corte = ") + (e.cut == Cut::full ? "total" : e.cut == Cut::none ? "nao" : "parcial"));
  lines.push_back("avanco = " + std::to_string(e.feed_lines));
  lines.push_back(std::string("aviso_sonoro = ") + (e.buzzer == Buzzer::esc_b              ? "esc-b"
                                                    : e.buzzer == Buzzer::esc_parenteses_a ? "esc-parenteses-a"
                                                    : e.buzzer == Buzzer::bel              ? "bel"
                                                                                           : "nao"));
  lines.push_back(std::string("numero_grande = ") + (e.big_number ? "sim" : "nao"));
  lines.push_back("copias = " + std::to_string(e.copies));
  if (p.mode == PrintMode::network) lines.push_back("endereco = " + p.host + ":" + std::to_string(p.port));
  return lines;
}

}  // namespace kav::printing

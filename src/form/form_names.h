// The names of the application's four forms: each form's design carries its
// name, and a form runs another by it (the runtime ignores case and trailing
// blanks when it looks a name up).
#pragma once

#include <string_view>

namespace kav::form {

inline constexpr std::string_view kMenuForm = "00-MENU";
inline constexpr std::string_view kExportaForm = "01-EXPORTA";
inline constexpr std::string_view kReprintForm = "02-REIMPRIME";
inline constexpr std::string_view kKeptAnswersForm = "03-RETIDAS";
inline constexpr std::string_view kSendToForm = "04-ENVIAR";
inline constexpr std::string_view kComandasForm = "90-COMANDAS";
inline constexpr std::string_view kLogForm = "99-LOG";

}  // namespace kav::form

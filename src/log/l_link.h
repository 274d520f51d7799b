// L-LINK: the 332-character area that all forms share, one for the whole
// program. Only L-LINK-TEXTO (positions 57-266) is used: the text of the next
// log line, which the caller leaves there before it runs the log form.
#pragma once

#include <string_view>

#include "record/area.h"

namespace kav::log {

class LLink {
 public:
  static constexpr record::Field kTexto{57, 210};

  std::string_view texto() const { return area_.get(kTexto); }
  // Blank-fills L-LINK-TEXTO and moves `text` into its leading positions.
  void set_texto(std::string_view text) { area_.set(kTexto, text); }
  record::Area& area() { return area_; }

 private:
  record::Area area_{332};
};

}  // namespace kav::log

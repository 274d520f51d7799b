// 90-COMANDAS: the order-processing form. Each opening performs one
// processing run against the web application and closes itself.
#pragma once

#include <string>

#include "log/l_link.h"
#include "monitor/form.h"
#include "platform/platform.h"

namespace kav::orders {

class ComandasForm final : public ui::Form {
 public:
  ComandasForm(log::LLink& link, platform::Platform& platform, std::string web_host);

  const ui::FormDesign& design() const override { return design_; }
  void tick(ui::FormContext& ctx, std::string_view timer) override;

 private:
  log::LLink& link_;
  platform::Platform& platform_;
  std::string web_host_;
  ui::FormDesign design_;
};

}  // namespace kav::orders

// kav-bench-export: how fast the export form writes KAVCMD.TXT.
//
//   kav-bench-export [--products N] [--sellers N] [--keep]
//
// Builds ERP files of N products (default 100,000) and N sellers (default
// 10,000) under a temporary root, runs 01-EXPORTA on them under the headless
// runtime (the import call is left out), and reports records per second. As a
// baseline it dumps the same records with the sqlite3 shell into a file (one
// read transaction per file), and prints the ratio of the two times. With
// --keep the root is left behind and named.
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "erpfiles/produto.h"
#include "erpfiles/vendedo.h"
#include "export/exporta_form.h"
#include "export/kavcmd_lines.h"
#include "log/l_link.h"
#include "log/log_form.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/keyed/keyed_writer.h"
#include "platform/platform.h"
#include "record/area.h"
#include "record/cp1252.h"
#include "record/digits.h"
#include "support/fake_platform.h"
#include "ui/headless/headless_runtime.h"

namespace {

namespace fs = std::filesystem;
using namespace kav;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

bool fill(const std::string& path, const erpfiles::FileLayout& layout, long count, bool sellers) {
  platform::keyed::KeyedWriter w;
  if (const std::string err = w.open(path, true); !err.empty()) {
    std::fprintf(stderr, "kav-bench-export: %s: %s\n", path.c_str(), err.c_str());
    return false;
  }
  const std::string names[] = {record::cp1252("Pão de queijo"), record::cp1252("Filé à parmegiana"),
                               record::cp1252("Açaí; 'grande'"), "Cerveja long neck"};
  w.begin();
  record::Area a(layout.record_length);
  for (long i = 1; i <= count; ++i) {
    a.fill(' ');
    const std::string code = record::to_digits(static_cast<std::uint64_t>(i), 6);
    const std::string& name = names[static_cast<std::size_t>(i) % 4];
    if (sellers) {
      a.set(erpfiles::vendedo::ven_codigo, code);
      a.set(erpfiles::vendedo::ven_apelido, i % 3 == 0 ? std::string() : "Apelido " + code);
      a.set(erpfiles::vendedo::ven_nome, name + " " + code);
    } else {
      a.set(erpfiles::produto::pro_codigo, code);
      a.set(erpfiles::produto::pro_chave2, "789" + record::to_digits(static_cast<std::uint64_t>(i), 15));
      a.set(erpfiles::produto::pro_descricao, name + " " + code);
      a.set(erpfiles::produto::pro_preco, record::to_digits(static_cast<std::uint64_t>(i * 37 % 100000), 9));
    }
    if (!w.put(a.bytes().substr(0, layout.key_length), a.bytes())) return false;
  }
  return w.commit();
}

}  // namespace

int main(int argc, char** argv) {
  long products = 100000, sellers = 10000;
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--keep") {
      keep = true;
    } else if ((arg == "--products" || arg == "--sellers") && i + 1 < argc) {
      (arg == "--products" ? products : sellers) = std::strtol(argv[++i], nullptr, 10);
    } else {
      std::fputs("usage: kav-bench-export [--products N] [--sellers N] [--keep]\n", stderr);
      return 2;
    }
  }

  std::string tmpl = (fs::temp_directory_path() / "kav-bench-XXXXXX").string();
  if (::mkdtemp(tmpl.data()) == nullptr) return 1;
  const fs::path root = tmpl;
  for (const char* d : {"OrbelaTeknovarium/Temp", "OrbelaTeknovarium/KAV/Arquivos", "xampp/htdocs/Comandas/FILES"})
    fs::create_directories(root / d);

  const auto files = platform::make_os_file_system(root.string());
  const std::string vendedo = files->host_path(erpfiles::vendedo::kFile.path);
  const std::string produto = files->host_path(erpfiles::produto::kFile.path);
  auto t = Clock::now();
  if (!fill(vendedo, erpfiles::vendedo::kFile, sellers, true) ||
      !fill(produto, erpfiles::produto::kFile, products, false))
    return 1;
  std::printf("ERP files: %ld sellers, %ld products built in %.2f s\n", sellers, products, seconds_since(t));
  const double records = static_cast<double>(sellers + products);

  // The export, as the monitor runs it.
  // The fake platform's command runner runs nothing: the import call is
  // left out.
  const auto keyed = platform::make_keyed_files(*files);
  test::FakePlatform fake(test::FakePlatform::start_of_test_day(), {.files = files.get(), .keyed = keyed.get()});
  platform::ManualClock& clock = fake.clock;
  log::LLink link;
  master_export::ExportaForm form(link, fake.services, "localhost");
  log::LogForm log_form(link, *files, clock);
  form::FormSet forms;
  forms.add(form);
  forms.add(log_form);
  ui::headless::VirtualPacer pacer(clock);
  ui::headless::HeadlessRuntime runtime(forms, fake.commands, pacer);
  std::string ending;
  runtime.on_message_box = [&ending](std::string_view, std::string_view text, int) {
    ending = record::to_utf8(record::trim_right(text));
  };
  t = Clock::now();
  runtime.run("01-EXPORTA");
  const double export_s = seconds_since(t);
  const auto kavcmd = fs::file_size(files->host_path(master_export::kKavcmdPath));
  std::printf("export:   %.0f records in %.3f s = %.0f records/s (KAVCMD.TXT %ju bytes; \"%s\")\n", records,
              export_s, records / export_s, static_cast<std::uintmax_t>(kavcmd), ending.c_str());

  // Baseline: the sqlite3 shell dumping the same records in key order.
  const std::string dump = (root / "dump.txt").string();
  const std::string command = "sqlite3 '" + vendedo + "' 'SELECT data FROM records ORDER BY key' > '" + dump +
                              "' && sqlite3 '" + produto + "' 'SELECT data FROM records ORDER BY key' >> '" + dump +
                              "'";
  t = Clock::now();
  const int rc = std::system(command.c_str());
  const double shell_s = seconds_since(t);
  if (rc == 0) {
    std::printf("sqlite3:  %.0f records in %.3f s = %.0f records/s (dump %ju bytes)\n", records, shell_s,
                records / shell_s, static_cast<std::uintmax_t>(fs::file_size(dump)));
    std::printf("ratio:    the export takes %.2fx the time of the plain scan\n", export_s / shell_s);
  } else {
    std::printf("sqlite3:  the shell failed (%d); is the sqlite3 program installed?\n", rc);
  }

  if (keep) {
    std::printf("root kept: %s\n", root.c_str());
  } else {
    fs::remove_all(root);
  }
  return 0;
}

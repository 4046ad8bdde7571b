#include "render.h"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "limits_runner.h"
#include "runner.h"

namespace qmtest {

const unsigned char* Raster::at(int c, int r) const {
  c = std::clamp(c, 0, width - 1);
  r = std::clamp(r, 0, height - 1);
  return px.data() + 3 * (static_cast<std::size_t>(r) * static_cast<std::size_t>(width) + static_cast<std::size_t>(c));
}

Raster readPng(const std::string& path, std::string* error) {
  Raster out;
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&img, path.c_str())) {
    if (error) *error = path + ": " + img.message;
    return out;
  }
  img.format = PNG_FORMAT_RGB;
  std::vector<unsigned char> px(PNG_IMAGE_SIZE(img));
  png_color white{255, 255, 255};
  if (!png_image_finish_read(&img, &white, px.data(), 0, nullptr)) {
    if (error) *error = path + ": " + img.message;
    png_image_free(&img);
    return out;
  }
  out.width = static_cast<int>(img.width);
  out.height = static_cast<int>(img.height);
  out.px = std::move(px);
  return out;
}

bool near(const unsigned char* p, int r, int g, int b, int tol) {
  return std::abs(p[0] - r) <= tol && std::abs(p[1] - g) <= tol && std::abs(p[2] - b) <= tol;
}

bool inked(const unsigned char* p, int tol) { return !near(p, 255, 255, 255, tol); }

std::string programPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::filesystem::path p = std::filesystem::path(dirs.substr(start, end - start)) / name;
    std::error_code ec;
    if (!p.parent_path().empty() && std::filesystem::is_regular_file(p, ec)) return p.string();
    start = end + 1;
  }
  return {};
}

namespace {

std::string runTool(const std::string& dir, const std::string& tool, const std::vector<std::string>& args,
                    const std::string& png) {
  const std::string prog = programPath(tool);
  if (prog.empty()) return tool + " is not installed";
  TimedResult r = runTimed(prog, args, dir, 180);
  std::string log = readFile(dir + "/stdout.txt") + r.err;
  if (r.timedOut) return tool + " did not finish:\n" + log;
  if (r.status != 0) return tool + " ended with status " + std::to_string(r.status) + ":\n" + log;
  if (!std::filesystem::exists(std::filesystem::path(dir) / png)) return tool + " wrote no picture:\n" + log;
  return {};
}

}  // namespace

std::string renderPostScript(const std::string& dir, const std::string& ps, const std::string& png, int dpi) {
  std::string e = runTool(dir, "gs",
                          {"-q", "-dBATCH", "-dNOPAUSE", "-dSAFER", "-sPAPERSIZE=letter", "-dFIXEDMEDIA",
                           "-sDEVICE=png16m", "-r" + std::to_string(dpi), "-sOutputFile=" + png, ps},
                          png);
  if (e.empty()) {
    std::string log = readFile(dir + "/stdout.txt") + readFile(dir + "/stderr.txt");
    if (log.find("Error") != std::string::npos) return "gs reported an error:\n" + log;
  }
  return e;
}

std::string renderSvg(const std::string& dir, const std::string& svg, const std::string& png, int width,
                      int height) {
  TempDir profile;
  const std::string html = "view-" + png + ".html";
  {
    std::FILE* f = std::fopen((dir + "/" + html).c_str(), "wb");
    if (!f) return "cannot write " + html;
    std::fprintf(f,
                 "<!DOCTYPE html><html><head><style>html,body{margin:0;padding:0;background:#fff;"
                 "overflow:hidden}img{display:block}</style></head><body>"
                 "<img src=\"%s\" width=\"%d\" height=\"%d\"></body></html>\n",
                 svg.c_str(), width, height);
    std::fclose(f);
  }
  std::string tool = programPath("chromium").empty() ? "chromium-browser" : "chromium";
  return runTool(dir, tool,
                 {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync",
                  "--hide-scrollbars", "--user-data-dir=" + profile.path(), "--screenshot=" + dir + "/" + png,
                  "--window-size=" + std::to_string(width) + "," + std::to_string(height),
                  "file://" + dir + "/" + html},
                 png);
}

std::string renderPov(const std::string& dir, const std::string& pov, const std::string& png, int width,
                      int height) {
  return runTool(dir, "povray",
                 {"+I" + pov, "+O" + png, "+W" + std::to_string(width), "+H" + std::to_string(height), "-D", "-V",
                  "+FN"},
                 png);
}

}  // namespace qmtest

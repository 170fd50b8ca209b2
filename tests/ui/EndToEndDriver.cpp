// End-to-end check of the real program, as a user would see it: start the
// wideglass executable on an X display with the simulated receiver in its
// plugins folder and a scene of two carriers, let it sweep, grab the window's
// pixels, find the red trace's peaks at the carriers' frequencies, then close
// the window like a window manager would and expect a clean exit within 3 s.
//
// Usage: e2e_driver <wideglass> <simulated librtlsdr> (DISPLAY must be set).
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const char* const kCaption = "  vodr_Wideglass for RTL-SDR";
constexpr double kStart = 138000000, kStop = 153000000, kRate = 3200000;
struct Carrier {
  double hz;
  double db;
};
const Carrier kCarriers[] = {{141300000, -20}, {150100000, -26}};

int Fail(const std::string& why) {
  std::fprintf(stderr, "FAIL: %s\n", why.c_str());
  return 1;
}

std::string WindowName(Display* d, Window w) {
  Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  Atom netName = XInternAtom(d, "_NET_WM_NAME", False);
  Atom type;
  int format;
  unsigned long n, after;
  unsigned char* data = nullptr;
  std::string name;
  if (XGetWindowProperty(d, w, netName, 0, 1024, False, utf8, &type, &format, &n, &after, &data) ==
          Success &&
      data) {
    name.assign(reinterpret_cast<char*>(data), n);
    XFree(data);
  }
  if (name.empty()) {
    char* s = nullptr;
    if (XFetchName(d, w, &s) && s) {
      name = s;
      XFree(s);
    }
  }
  return name;
}

Window FindWindow(Display* d, Window root) {
  Window r, parent, *kids = nullptr;
  unsigned n = 0;
  Window found = 0;
  if (!XQueryTree(d, root, &r, &parent, &kids, &n)) return 0;
  for (unsigned i = 0; i < n && !found; ++i) {
    XWindowAttributes a;
    if (XGetWindowAttributes(d, kids[i], &a) && a.map_state == IsViewable &&
        WindowName(d, kids[i]) == kCaption)
      found = kids[i];
    if (!found) found = FindWindow(d, kids[i]);
  }
  if (kids) XFree(kids);
  return found;
}

struct Image {
  int w = 0, h = 0;
  std::vector<uint32_t> px;  // 0xRRGGBB
  uint32_t at(int x, int y) const { return px[static_cast<size_t>(y) * w + x]; }
};

Image Grab(Display* d, Window win) {
  XWindowAttributes a;
  XGetWindowAttributes(d, win, &a);
  Image img;
  XImage* xi = XGetImage(d, win, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
  if (!xi) return img;
  img.w = a.width;
  img.h = a.height;
  img.px.resize(static_cast<size_t>(img.w) * img.h);
  for (int y = 0; y < img.h; ++y)
    for (int x = 0; x < img.w; ++x) img.px[static_cast<size_t>(y) * img.w + x] = XGetPixel(xi, x, y) & 0xFFFFFF;
  XDestroyImage(xi);
  return img;
}

void SavePpm(const Image& img, const fs::path& p) {
  std::ofstream f(p, std::ios::binary);
  f << "P6\n" << img.w << " " << img.h << "\n255\n";
  for (uint32_t v : img.px) {
    const char rgb[3] = {static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
    f.write(rgb, 3);
  }
}

bool WaitExit(pid_t pid, std::chrono::milliseconds limit, int& status) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (waitpid(pid, &status, WNOHANG) == pid) return true;
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Fail("usage: e2e_driver <wideglass> <librtlsdr sim>");
  char tmpl[] = "/tmp/wg-e2e-XXXXXX";
  const fs::path dir = mkdtemp(tmpl);
  fs::copy_file(argv[1], dir / "wideglass");
  fs::permissions(dir / "wideglass", fs::perms::owner_all, fs::perm_options::add);
  fs::create_directory(dir / "plugins");
  fs::create_symlink(fs::absolute(argv[2]), dir / "plugins" / "librtlsdr.so");
  {
    std::ofstream scene(dir / "scene.txt");
    scene << "# two carriers for the end-to-end check\n";
    for (const Carrier& c : kCarriers) scene << static_cast<long long>(c.hz) << " " << c.db << " carrier\n";
  }

  const pid_t pid = fork();
  if (pid == 0) {
    setenv("RTLSDR_SIM_SCENE", (dir / "scene.txt").c_str(), 1);
    setenv("RTLSDR_SIM_SEED", "1", 1);
    // Remembered settings go to the test's folder, never the user's.
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    unsetenv("QT_QPA_PLATFORM");
    execl((dir / "wideglass").c_str(), "wideglass", static_cast<char*>(nullptr));
    _exit(127);
  }

  Display* d = XOpenDisplay(nullptr);
  if (!d) return Fail("no X display");
  Window win = 0;
  for (int i = 0; i < 150 && !win; ++i) {
    std::this_thread::sleep_for(100ms);
    win = FindWindow(d, DefaultRootWindow(d));
  }
  if (!win) {
    kill(pid, SIGKILL);
    return Fail("the window did not appear");
  }
  // A few sweeps: one sweep of 138-153 MHz takes about 0.1 s on a paced receiver.
  std::this_thread::sleep_for(3s);
  const Image img = Grab(d, win);
  SavePpm(img, dir / "screenshot.ppm");
  std::printf("screenshot: %s (%dx%d)\n", (dir / "screenshot.ppm").c_str(), img.w, img.h);

  int rc = 0;
  // The plot rectangle: the back wall's black outline. Its right column is the
  // rightmost long vertical black run; its top row the run that ends there.
  auto black = [&](int x, int y) { return img.at(x, y) == 0x000000; };
  int right = -1, top = -1, bottom = -1, left = -1;
  for (int x = img.w - 1; x >= 0 && right < 0; --x) {
    int run = 0, best = 0, end = -1;
    for (int y = 0; y < img.h; ++y) {
      run = black(x, y) ? run + 1 : 0;
      if (run > best) best = run, end = y;
    }
    if (best > img.h / 3) right = x, bottom = end, top = end - best + 1;
  }
  if (right < 0) rc = Fail("no plot rectangle found");
  if (!rc) {
    // The dotted grid crosses the wall's top row in grey; walk over it.
    auto wallRow = [&](int x) { return black(x, top) || img.at(x, top) == 0x808080; };
    left = right;
    while (left > 0 && wallRow(left - 1)) --left;
    while (left < right && !black(left, top)) ++left;
    std::printf("plot rectangle: %d,%d .. %d,%d\n", left, top, right, bottom);
    const int width = right - left;
    const int axisLen = static_cast<int>(std::nearbyint(width * 0.97));
    auto column = [&](double hz) { return left + static_cast<int>(std::lround((hz - kStart) / (kStop - kStart) * axisLen)); };
    // Height of the trace in each column: the topmost red pixel.
    std::vector<int> height(img.w, 0);
    for (int x = left + 1; x < right; ++x)
      for (int y = top + 1; y < bottom; ++y)
        if (img.at(x, y) == 0xFF0000) {
          height[x] = bottom - y;
          break;
        }
    std::vector<int> sorted(height.begin() + left + 1, height.begin() + right);
    std::sort(sorted.begin(), sorted.end());
    const int floor = sorted.empty() ? 0 : sorted[sorted.size() / 2];
    const int plotH = bottom - top;
    std::printf("noise floor height %d px of %d\n", floor, plotH);
    if (floor <= 0) rc = Fail("no red trace in the plot");
    for (const Carrier& c : kCarriers) {
      if (rc) break;
      const int want = column(c.hz);
      int peak = want;
      for (int x = std::max(left + 1, want - 12); x <= std::min(right - 1, want + 12); ++x)
        if (height[x] > height[peak]) peak = x;
      std::printf("carrier %.0f Hz: expected column %d, peak at %d, height %d\n", c.hz, want, peak, height[peak]);
      if (std::abs(peak - want) > 2) rc = Fail("carrier peak off its frequency");
      else if (height[peak] - floor < plotH / 5) rc = Fail("carrier does not stand above the noise");
    }
    // The step centres carry nothing on the air: none may stand more than
    // 10 dB (of the 145 dB level axis) above the noise there.
    for (double centre = kStart + kRate / 2; centre < kStop && !rc; centre += kRate) {
      const int x = column(centre);
      int top = 0;
      for (int c = std::max(left + 1, x - 3); c <= std::min(right - 1, x + 3); ++c) top = std::max(top, height[c]);
      std::printf("step centre %.0f Hz: height %d px over noise %d px\n", centre, top, floor);
      if (top - floor > plotH * 10 / 145) rc = Fail("a step centre stands above the noise");
    }
    // Nothing else should rise like a carrier.
    for (int x = left + 1; x < right && !rc; ++x) {
      if (height[x] - floor < plotH / 5) continue;
      bool known = false;
      for (const Carrier& c : kCarriers) known |= std::abs(x - column(c.hz)) <= 3;
      if (!known) {
        std::printf("unexpected peak at column %d (%.0f Hz)\n", x,
                    kStart + (x - left) * (kStop - kStart) / axisLen);
        rc = Fail("a peak where no emitter is");
      }
    }
  }

  // Close the window as a window manager does and expect a clean exit.
  Atom protocols = XInternAtom(d, "WM_PROTOCOLS", False);
  Atom del = XInternAtom(d, "WM_DELETE_WINDOW", False);
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = win;
  ev.xclient.message_type = protocols;
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = static_cast<long>(del);
  ev.xclient.data.l[1] = CurrentTime;
  XSendEvent(d, win, False, NoEventMask, &ev);
  XFlush(d);
  int status = 0;
  if (!WaitExit(pid, 3000ms, status)) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    rc = rc ? rc : Fail("the program did not exit within 3 s of closing its window");
  } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    rc = rc ? rc : Fail("the program did not exit cleanly (status " + std::to_string(status) + ")");
  }
  XCloseDisplay(d);
  if (rc == 0) {
    fs::remove_all(dir);
    std::printf("end-to-end check passed\n");
  }
  return rc;
}

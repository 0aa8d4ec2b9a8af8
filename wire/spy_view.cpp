#include "spy_view.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <vector>

#include "wire/spy_log.h"

namespace nbspy {
namespace {

// One request and what came back after it on its lane, or what came
// without a request.
struct Exchange {
  size_t lane;
  double ms;                // of the request, or of the answer's first line
  double latencyMs = -1;
  std::string request, answer;
  double answerMs = -1, endMs = -1;  // the answer's first and last lines
  bool restOfAnswer = false;         // a piece its answer's last line began
};

struct Event {
  size_t lane;
  double ms;
  const char* kind;
  std::string text;
};

const char* KindOf(const std::string& text) {
  const auto starts = [&text](const char* word) { return text.rfind(word, 0) == 0; };
  if (starts("note") || starts("fault")) return "note";  // played faults say so in notes
  if (text.find("failed") != std::string::npos || text.find("refused") != std::string::npos ||
      text.find(": error ") != std::string::npos || starts("line errors")) {
    return "error";
  }
  if (starts("open ") || starts("connect ")) return "open";
  if (starts("close") || text == kPeerClosed) return "close";
  if (starts("settings") || starts("time-outs") || starts("queues")) return "settings";
  if (starts("nothing")) return "wait";
  return "other";
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (char c : bytes) {
    hex += kDigits[static_cast<unsigned char>(c) >> 4];
    hex += kDigits[static_cast<unsigned char>(c) & 15];
  }
  return hex;
}

// A text as JSON, with "<" escaped so that no text can end the script.
std::string Json(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20 || b >= 0x7F || c == '<' || c == '>' || c == '&') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", b);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

// The first number in an answer that is text ("ST,GS,+0012.34 kg": 12.34),
// as JSON; null when it holds none.
std::string FirstNumber(const std::string& answer) {
  for (size_t at = 0; at < answer.size(); ++at) {
    const unsigned char c = static_cast<unsigned char>(answer[at]);
    if (c < 0x20 && c != '\r' && c != '\n' && c != '\t') return "null";
    if (c >= 0x7F) return "null";
  }
  for (size_t at = 0; at < answer.size(); ++at) {
    const bool digit = answer[at] >= '0' && answer[at] <= '9';
    const bool signedDigit = (answer[at] == '+' || answer[at] == '-') && at + 1 < answer.size() &&
                             answer[at + 1] >= '0' && answer[at + 1] <= '9';
    if (!digit && !signedDigit) continue;
    char number[40];
    std::snprintf(number, sizeof number, "%.9g", std::strtod(answer.c_str() + at, nullptr));
    return number;
  }
  return "null";
}

// The lanes, exchanges and events of a log.
class Reading {
 public:
  void take(const LogRecord& r) {
    ++lines_;
    const size_t lane = laneOf(r);
    if (r.direction == ' ' || (r.bytes.empty() && !r.text.empty())) {
      events_.push_back({lane, r.ms, KindOf(r.text), r.text});
      return;
    }
    if (r.bytes.empty()) return;  // a write of nothing
    const auto open = open_.find(lane);
    if (r.direction == '>') {
      if (open != open_.end()) before_[lane] = open->second;
      open_[lane] = exchanges_.size();
      exchanges_.push_back({lane, r.ms, -1, r.bytes, std::string()});
      return;
    }
    if (open != open_.end() && r.cameMs < r.ms && exchanges_[open->second].answer.empty()) {
      // The rest of a piece an earlier answer began: that answer's.
      const auto before = before_.find(lane);
      Exchange& x = exchanges_[before != before_.end() ? before->second : open->second];
      x.answer += r.bytes;
      x.endMs = std::max(x.endMs, r.ms);
      return;
    }
    if (open != open_.end()) {
      Exchange& x = exchanges_[open->second];
      // The rest of a piece, or bytes that were coming while the answer
      // was read, belong to it; later ones came unasked.
      const bool rest = r.cameMs < r.ms || (r.afterMs >= 0 && r.afterMs <= x.endMs);
      if (x.answer.empty() || rest) {
        if (x.answer.empty()) {
          x.latencyMs = r.latencyMs;
          x.answerMs = r.ms;
        }
        x.answer += r.bytes;
        x.endMs = r.ms;
        return;
      }
    }
    if (open != open_.end()) before_[lane] = open->second;
    open_[lane] = exchanges_.size();
    Exchange unasked{lane, r.ms, r.latencyMs, std::string(), r.bytes};
    unasked.answerMs = unasked.endMs = r.ms;
    exchanges_.push_back(unasked);
  }

  std::string json(const std::string& title) const {
    std::vector<size_t> order(exchanges_.size());
    for (size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::stable_sort(order.begin(), order.end(),
                     [this](size_t a, size_t b) { return exchanges_[a].ms < exchanges_[b].ms; });
    std::ostringstream out;
    out << "{\"title\":" << Json(title) << ",\"lines\":" << lines_ << ",\"lanes\":[";
    for (size_t k = 0; k < lanes_.size(); ++k) out << (k ? "," : "") << Json(lanes_[k]);
    out << "],\n\"x\":[";
    bool first = true;
    for (size_t k : order) {
      const Exchange& x = exchanges_[k];
      out << (first ? "" : ",\n") << "[" << x.lane << "," << Number(x.ms) << ","
          << (x.latencyMs >= 0 ? Number(x.latencyMs) : "-1") << ",\"" << Hex(x.request) << "\",\""
          << Hex(x.answer) << "\"," << Number(x.answerMs) << "," << Number(x.endMs) << ","
          << FirstNumber(x.answer) << "]";
      first = false;
    }
    std::vector<Event> events = events_;
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) { return a.ms < b.ms; });
    out << "],\n\"e\":[";
    for (size_t k = 0; k < events.size(); ++k) {
      const Event& e = events[k];
      out << (k ? ",\n" : "") << "[" << e.lane << "," << Number(e.ms) << ",\"" << e.kind << "\","
          << Json(e.text) << "]";
    }
    out << "]}";
    return out.str();
  }

 private:
  // A port's lane, or the lane of the connection a TCP line belongs to.
  size_t laneOf(const LogRecord& r) {
    std::string name = r.where;
    if (r.where == kConnectionWhere) {
      const std::string head = "connect ", tail = ": ok";
      if (r.direction == ' ' && r.text.rfind(head, 0) == 0 && r.text.size() > head.size() + tail.size() &&
          r.text.compare(r.text.size() - tail.size(), tail.size(), tail) == 0) {
        const std::string server = r.text.substr(head.size(), r.text.size() - head.size() - tail.size());
        const int n = ++connections_[server];
        connection_ = "TCP " + server + (n > 1 ? " (" + std::to_string(n) + ")" : "");
      }
      if (!connection_.empty()) name = connection_;
      if (r.direction == ' ' && r.text.rfind("close:", 0) == 0) connection_.clear();
    }
    const auto found = laneIndex_.find(name);
    if (found != laneIndex_.end()) return found->second;
    laneIndex_[name] = lanes_.size();
    lanes_.push_back(name);
    return lanes_.size() - 1;
  }

  size_t lines_ = 0;
  std::vector<std::string> lanes_;
  std::map<std::string, size_t> laneIndex_;
  std::map<std::string, int> connections_;
  std::string connection_;  // the lane of the connection open now
  std::vector<Exchange> exchanges_;
  std::vector<Event> events_;
  std::map<size_t, size_t> open_;    // each lane's latest exchange
  std::map<size_t, size_t> before_;  // and the one before it
};

// The page around its data: style, the elements the script fills, the script.
const char kPageHead[] = R"PAGE(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'">
<title>)PAGE";

const char kPageBody[] = R"PAGE(</title>
<style>
body { font: 13px/1.4 system-ui, sans-serif; margin: 0; color: #222; background: #fafafa; }
header { padding: 8px 12px; background: #263238; color: #eceff1; display: flex; gap: 16px; align-items: center; flex-wrap: wrap; }
header h1 { font-size: 15px; margin: 0; }
button { font: inherit; padding: 2px 8px; }
#view { position: relative; overflow: hidden; cursor: grab; background: #fff; border-bottom: 1px solid #ccc; }
svg text { font: 11px system-ui, sans-serif; fill: #333; }
.request { fill: #1565c0; } .answer { fill: #2e7d32; } .unasked { fill: #6a1b9a; }
.link { stroke: #90a4ae; stroke-width: 1; } .burst { fill: #78909c; }
.open { fill: #43a047; } .close { fill: #757575; } .settings { fill: #0288d1; }
.error { fill: #d32f2f; } .note { fill: #f57c00; } .wait { fill: #bdbdbd; } .other { fill: #9e9e9e; }
.plot { fill: none; stroke: #ef6c00; stroke-width: 1.5; }
.picked { stroke: #000; stroke-width: 2; }
#detail { padding: 8px 12px; min-height: 60px; }
#detail pre { margin: 4px 0; font: 12px ui-monospace, monospace; background: #eceff1; padding: 6px; overflow-x: auto; }
table { border-collapse: collapse; margin: 0 12px 12px; font: 12px ui-monospace, monospace; }
td, th { padding: 1px 8px; border-bottom: 1px solid #e0e0e0; text-align: left; white-space: pre; }
tr.exchange { cursor: pointer; } tr.exchange:hover { background: #e3f2fd; }
.legend span { margin-right: 10px; }
</style></head>
<body>
<header><h1 id="title"></h1><span id="summary"></span>
<span><button id="all">whole log</button> <button id="in">zoom in</button> <button id="out">zoom out</button>
<button id="left">&larr;</button> <button id="right">&rarr;</button></span>
<span class="legend"><span style="color:#90caf9">&#9632; request</span><span style="color:#a5d6a7">&#9632; answer</span>
<span style="color:#ce93d8">&#9632; unasked</span><span style="color:#ffcc80">&#9472; first number</span></span></header>
<div id="view"><svg id="lanes" xmlns="http://www.w3.org/2000/svg"></svg></div>
<div id="detail">Click an exchange for its bytes. Drag to move, wheel to zoom.</div>
<table><thead><tr><th>ms</th><th>lane</th><th>latency</th><th>request</th><th>answer</th></tr></thead>
<tbody id="exchanges"></tbody></table>
<script id="wire-data" type="application/json">)PAGE";

const char kPageScript[] = R"PAGE(</script>
<script>
"use strict";
const D = JSON.parse(document.getElementById("wire-data").textContent);
const X = D.x, E = D.e, LANE_H = 64, AXIS_H = 22, LABEL_W = 150, MOST_MARKS = 1500, MOST_ROWS = 2000;
const svg = document.getElementById("lanes"), view = document.getElementById("view");
const NS = "http://www.w3.org/2000/svg";
const end = Math.max(1, ...[X.length ? X[X.length - 1][6] : 0, X.length ? X[X.length - 1][1] : 0,
                            E.length ? E[E.length - 1][1] : 0]);
let t0 = 0, t1 = end <= 20000 ? end * 1.02 : 10000, picked = -1;

function bytes(hex) { const b = []; for (let i = 0; i < hex.length; i += 2) b.push(parseInt(hex.substr(i, 2), 16)); return b; }
function text(hex) {
  return bytes(hex).map(c => c === 13 ? "\\r" : c === 10 ? "\\n" : c >= 32 && c < 127 ? String.fromCharCode(c) : "\\x" + c.toString(16).toUpperCase().padStart(2, "0")).join("");
}
function dump(hex) {
  const b = bytes(hex), rows = [];
  for (let i = 0; i < b.length; i += 16) {
    const part = b.slice(i, i + 16);
    rows.push(i.toString(16).padStart(4, "0") + "  " + part.map(c => c.toString(16).toUpperCase().padStart(2, "0")).join(" ").padEnd(48) +
              "  " + part.map(c => c >= 32 && c < 127 ? String.fromCharCode(c) : ".").join(""));
  }
  return rows.join("\n") || "(none)";
}
// The first index whose time is at least t.
function first(list, t) { let lo = 0, hi = list.length; while (lo < hi) { const m = (lo + hi) >> 1; if (list[m][1] < t) lo = m + 1; else hi = m; } return lo; }
function el(name, attrs, parent) { const e = document.createElementNS(NS, name); for (const k in attrs) e.setAttribute(k, attrs[k]); parent.appendChild(e); return e; }

function draw() {
  const width = Math.max(400, view.clientWidth), plotW = width - LABEL_W - 10;
  const height = AXIS_H + D.lanes.length * LANE_H + 4;
  svg.setAttribute("width", width); svg.setAttribute("height", height);
  svg.textContent = "";
  const x = t => LABEL_W + (t - t0) / (t1 - t0) * plotW;
  // The axis: a step of 1, 2 or 5 times a power of ten, about 100 px apart.
  const raw = (t1 - t0) / (plotW / 100), p = Math.pow(10, Math.floor(Math.log10(raw)));
  const step = [1, 2, 5, 10].map(k => k * p).find(s => s >= raw);
  for (let t = Math.ceil(t0 / step) * step; t <= t1; t += step) {
    el("line", {x1: x(t), x2: x(t), y1: AXIS_H - 4, y2: height, stroke: "#eceff1"}, svg);
    el("text", {x: x(t) + 2, y: 14}, svg).textContent = t >= 1000 ? (t / 1000).toFixed(step < 1000 ? 2 : 0) + " s" : t.toFixed(0) + " ms";
  }
  D.lanes.forEach((name, k) => {
    const y = AXIS_H + k * LANE_H;
    el("line", {x1: 0, x2: width, y1: y, y2: y, stroke: "#cfd8dc"}, svg);
    el("text", {x: 6, y: y + 16}, svg).textContent = name;
  });
  for (let i = first(E, t0); i < E.length && E[i][1] <= t1; ++i) {
    const [lane, ms, kind, what] = E[i], y = AXIS_H + lane * LANE_H;
    el("rect", {x: x(ms) - 1, y: y + 2, width: 2, height: 12, class: kind}, svg).appendChild(document.createElementNS(NS, "title")).textContent = ms.toFixed(1) + " ms " + what;
  }
  const from = first(X, t0 - (t1 - t0)), to = first(X, t1 + 1e-9);
  const inView = [];
  for (let i = from; i < to; ++i) if (Math.max(X[i][6], X[i][1]) >= t0) inView.push(i);
  if (inView.length <= MOST_MARKS) {
    for (const i of inView) {
      const [lane, ms, lat, req, ans, ansMs, endMs] = X[i], y = AXIS_H + lane * LANE_H + 18;
      const g = el("g", {"data-index": i}, svg);
      if (req) el("rect", {x: x(ms) - 1.5, y: y, width: 3, height: 14, class: "request" + (i === picked ? " picked" : "")}, g);
      if (ans) {
        const start = req && lat >= 0 ? ms + lat : ansMs;
        if (req) el("line", {x1: x(ms), x2: x(start), y1: y + 7, y2: y + 7, class: "link"}, g);
        el("rect", {x: x(start), y: y + (req ? 2 : 0), width: Math.max(3, x(endMs) - x(start)), height: req ? 10 : 14,
                    class: (req ? "answer" : "unasked") + (i === picked ? " picked" : "")}, g);
      }
      g.appendChild(document.createElementNS(NS, "title")).textContent =
        ms.toFixed(1) + " ms  " + (req ? "> " + text(req) + "  " : "") + (ans ? "< " + text(ans) : "no answer") + (lat >= 0 ? "  latency " + lat.toFixed(1) + " ms" : "");
      g.addEventListener("click", () => pick(i));
    }
  } else {  // too many to draw one by one: how many a pixel column holds, as bars
    const counts = D.lanes.map(() => new Uint32Array(Math.ceil(plotW / 2) + 1));
    for (const i of inView) { const c = Math.floor((x(X[i][1]) - LABEL_W) / 2); if (c >= 0 && c < counts[0].length) counts[X[i][0]][c]++; }
    counts.forEach((col, lane) => {
      const most = col.reduce((a, b) => Math.max(a, b), 1);
      col.forEach((n, c) => { if (n) { const h = 4 + 28 * n / most; el("rect", {x: LABEL_W + c * 2, y: AXIS_H + lane * LANE_H + 34 - h, width: 2, height: h, class: "burst"}, svg); } });
    });
  }
  // The first number of each answer, over time, where a lane's answers carry one.
  D.lanes.forEach((name, lane) => {
    const pts = inView.filter(i => X[i][0] === lane && X[i][7] !== null);
    if (pts.length < 2) return;
    const values = pts.map(i => X[i][7]);
    const lo = values.reduce((a, b) => Math.min(a, b)), hi = values.reduce((a, b) => Math.max(a, b));
    const y = v => AXIS_H + lane * LANE_H + LANE_H - 4 - (hi > lo ? (v - lo) / (hi - lo) : 0.5) * 22;
    el("polyline", {class: "plot", points: pts.map(i => x(X[i][5] >= 0 ? X[i][5] : X[i][1]).toFixed(1) + "," + y(X[i][7]).toFixed(1)).join(" ")}, svg);
    el("text", {x: 6, y: AXIS_H + lane * LANE_H + LANE_H - 6}, svg).textContent = lo + " .. " + hi;
  });
  table(inView);
}

function table(inView) {
  const rows = [];
  for (const i of inView.slice(0, MOST_ROWS)) {
    const [lane, ms, lat, req, ans] = X[i];
    rows.push("<tr class=\"exchange\" data-index=\"" + i + "\" data-lane=\"" + esc(D.lanes[lane]) + "\" data-ms=\"" + ms.toFixed(1) +
              "\" data-latency=\"" + (lat >= 0 ? lat.toFixed(1) : "") + "\" data-request=\"" + req + "\" data-answer=\"" + ans + "\"><td>" +
              ms.toFixed(1) + "</td><td>" + esc(D.lanes[lane]) + "</td><td>" + (lat >= 0 ? lat.toFixed(1) + " ms" : "") + "</td><td>" +
              esc(text(req)) + "</td><td>" + esc(text(ans)) + "</td></tr>");
  }
  const body = document.getElementById("exchanges");
  body.innerHTML = rows.join("");
  body.dataset.shown = Math.min(inView.length, MOST_ROWS);
  body.dataset.inView = inView.length;
}
function esc(s) { return s.replace(/&/g, "&amp;").replace(/</g, "&lt;").replace(/"/g, "&quot;"); }

function pick(i) {
  picked = i;
  const [lane, ms, lat, req, ans] = X[i];
  document.getElementById("detail").innerHTML = "<b>" + esc(D.lanes[lane]) + " at " + ms.toFixed(1) + " ms</b>" +
    (lat >= 0 ? ", latency " + lat.toFixed(1) + " ms" : "") + "<pre>&gt; " + esc(dump(req)) + "</pre><pre>&lt; " + esc(dump(ans)) + "</pre>";
  draw();
}

function zoom(factor, at) { const t = at === undefined ? (t0 + t1) / 2 : at; t0 = t - (t - t0) * factor; t1 = t + (t1 - t) * factor; draw(); }
function pan(share) { const d = (t1 - t0) * share; t0 += d; t1 += d; draw(); }
document.getElementById("all").onclick = () => { t0 = 0; t1 = end * 1.02; draw(); };
document.getElementById("in").onclick = () => zoom(0.5);
document.getElementById("out").onclick = () => zoom(2);
document.getElementById("left").onclick = () => pan(-0.5);
document.getElementById("right").onclick = () => pan(0.5);
document.getElementById("exchanges").addEventListener("click", e => { const r = e.target.closest("tr"); if (r) pick(+r.dataset.index); });
view.addEventListener("wheel", e => {
  e.preventDefault();
  const plotW = Math.max(400, view.clientWidth) - LABEL_W - 10;
  zoom(e.deltaY > 0 ? 1.25 : 0.8, t0 + (e.offsetX - LABEL_W) / plotW * (t1 - t0));
}, {passive: false});
let dragging = null;
view.addEventListener("mousedown", e => { dragging = {x: e.clientX, t0, t1}; });
window.addEventListener("mouseup", () => { dragging = null; });
window.addEventListener("mousemove", e => {
  if (!dragging) return;
  const plotW = Math.max(400, view.clientWidth) - LABEL_W - 10, d = (e.clientX - dragging.x) / plotW * (dragging.t1 - dragging.t0);
  if (Math.abs(e.clientX - dragging.x) > 3) { t0 = dragging.t0 - d; t1 = dragging.t1 - d; draw(); }
});
window.addEventListener("resize", draw);

document.title = D.title;
document.getElementById("title").textContent = D.title;
const summary = document.getElementById("summary");
summary.textContent = D.lines + " lines, " + X.length + " exchanges on " + D.lanes.length + " lanes over " + (end / 1000).toFixed(1) + " s";
summary.dataset.lines = D.lines; summary.dataset.exchanges = X.length; summary.dataset.lanes = D.lanes.length;
draw();
document.body.dataset.drawnMs = performance.now().toFixed(0);
</script>
</body></html>
)PAGE";

}  // namespace

std::string ViewPage(const std::string& log, const std::string& title) {
  Reading reading;
  std::istringstream lines(log);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    LogRecord record;
    if (ParseLogLine(line, record)) reading.take(record);
  }
  std::string escaped;  // the title as HTML text
  for (char c : title) escaped += c == '<' ? "&lt;" : c == '&' ? "&amp;" : std::string(1, c);
  return kPageHead + escaped + kPageBody + reading.json(title) + kPageScript;
}

std::string PagePathFor(const std::string& logPath) {
  const size_t slash = logPath.find_last_of("/\\");
  const size_t dot = logPath.rfind('.');
  const bool extension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (extension ? logPath.substr(0, dot) : logPath) + ".html";
}

}  // namespace nbspy

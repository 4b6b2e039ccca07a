#include "serve/live_page.h"

namespace zl::serve {
namespace {

const char kPage[] = R"PAGE(<!DOCTYPE html>
<html lang="@LANG@">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>bzl</title>
<style>
body { font-family: sans-serif; margin: 1.5em; background: #f4f5f7; color: #1d2330; }
h1 { font-size: 1.3em; margin: 0 0 .8em 0; }
#totals { margin-bottom: 1em; font-size: 1.05em; }
#totals span { margin-right: 1.5em; }
#error { color: #b00020; min-height: 1.2em; }
#tiles { display: flex; flex-wrap: wrap; gap: 1em; }
.tile { background: #fff; border-radius: 8px; padding: .9em 1.1em; width: 17em;
        box-shadow: 0 1px 3px rgba(0,0,0,.15); border-top: 6px solid #9aa1ad; }
.tile[data-state="searching"] { border-top-color: #5b8def; }
.tile[data-state="connected"] { border-top-color: #2e9d5b; }
.tile[data-state="transferring"] { border-top-color: #e0a100; }
.tile[data-state="waiting-for-port"], .tile[data-state="box"] { border-top-color: #c0392b; }
.name { font-weight: bold; font-size: 1.2em; }
.state { float: right; font-size: .9em; }
.status { color: #4a5262; font-size: .9em; margin: .4em 0; min-height: 1.2em; }
.bar { background: #e3e6eb; border-radius: 4px; height: .8em; overflow: hidden; }
.bar div { background: #e0a100; height: 100%; width: 0; }
.progress { font-size: .85em; color: #4a5262; min-height: 1.1em; }
.counters { margin-top: .5em; }
.verdict { margin-top: .4em; font-weight: bold; }
.verdict[data-outcome="ok"] { color: #2e7d32; }
.verdict.failed { color: #b00020; }
</style>
</head>
<body>
<h1 id="title"></h1>
<div id="totals"></div>
<div id="error"></div>
<div id="tiles"></div>
<script>
"use strict";
const T = {
  de: { title: "Stationen", good: "gut", failed: "fehlerhaft", units: "Geräte", fpy: "Erstdurchlauf-Ausbeute",
        none: "noch kein Ergebnis", unreachable: "bzl antwortet nicht",
        states: { stopped: "gestoppt", searching: "sucht", connected: "verbunden", transferring: "überträgt",
                  "waiting-for-port": "wartet auf den Port", box: "Meldung" },
        ops: { load: "Laden", readout: "Auslesen", verify: "Vergleich" }, ok: "gut" },
  en: { title: "Stations", good: "good", failed: "failed", units: "units", fpy: "first-pass yield",
        none: "no result yet", unreachable: "bzl does not answer",
        states: { stopped: "stopped", searching: "searching", connected: "connected", transferring: "transferring",
                  "waiting-for-port": "waiting for the port", box: "message" },
        ops: { load: "load", readout: "readout", verify: "verify" }, ok: "good" }
};
const L = T[document.documentElement.lang] || T.en;
document.getElementById("title").textContent = "bzl · " + L.title;

function el(tag, cls, text) {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined) e.textContent = text;
  return e;
}

function tile(s) {
  const t = el("div", "tile");
  t.dataset.station = s.station;
  t.dataset.state = s.state;
  const head = el("div");
  head.append(el("span", "name", s.station), el("span", "state", L.states[s.state] || s.state));
  t.append(head, el("div", "status", s.status));
  const bar = el("div", "bar"), fill = el("div");
  bar.append(fill);
  let progress = "";
  if (s.progress) {
    const p = s.progress;
    if (p.total > 0) fill.style.width = Math.min(100, Math.floor(p.done * 100 / p.total)) + "%";
    progress = (L.ops[p.operation] || p.operation) + " · " + p.phase + " · " + p.done + (p.total !== null ? " / " + p.total : "");
  }
  t.append(bar, el("div", "progress", progress));
  t.append(el("div", "counters", L.good + ": " + s.counters.good + " · " + L.failed + ": " + s.counters.failed));
  const v = s.last_verdict;
  const verdict = el("div", "verdict", L.none);
  if (v) {
    verdict.dataset.outcome = v.outcome;
    if (v.outcome !== "ok") verdict.classList.add("failed");
    verdict.textContent = (L.ops[v.operation] || v.operation) + ": " +
      (v.outcome === "ok" ? L.ok : v.outcome + (v.cause ? " (" + v.cause + ")" : "")) +
      (v.unit_id ? " · " + v.unit_id : "") + " · " + v.seconds.toFixed(1) + " s";
  }
  t.append(verdict);
  return t;
}

function show(data) {
  const tiles = document.getElementById("tiles");
  tiles.replaceChildren(...data.stations.map(tile));
  const s = data.totals, totals = document.getElementById("totals");
  const fpy = s.first_pass_yield === null ? "–" : (s.first_pass_yield * 100).toFixed(1) + " %";
  totals.replaceChildren(el("span", "", L.good + ": " + s.good), el("span", "", L.failed + ": " + s.failed),
                         el("span", "", L.units + ": " + s.units), el("span", "fpy", L.fpy + ": " + fpy));
  document.getElementById("error").textContent = "";
}

async function refresh() {
  try {
    const r = await fetch("api/v1/stations", { cache: "no-store" });
    if (!r.ok) throw new Error(r.status);
    show(await r.json());
  } catch (e) {
    document.getElementById("error").textContent = L.unreachable;
  }
}

refresh();
setInterval(refresh, 1000);
</script>
</body>
</html>
)PAGE";

}  // namespace

std::string LivePage(bool english) {
    std::string page = kPage;
    const size_t at = page.find("@LANG@");
    page.replace(at, 6, english ? "en" : "de");
    return page;
}

}  // namespace zl::serve

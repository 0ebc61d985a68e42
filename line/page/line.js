// The line page: every station and slot of the line as the line database
// says it, asked again whenever the service says something changed. Every
// value from a station or a person is set as text (textContent), never as markup.
"use strict";

const WORDS = {
  zh: {
    title: "产线总览", recipes: "配方", recipe: "配方", active: "当前版本", activated: "激活", writing: "工位写入",
    board: "板记录", show: "查看", running: "运行中", silent: "无响应", stopped: "已停止",
    away: "产线数据库无响应", unknown: "未知", today: "今日", written: "完成", failed: "失败", perHour: "每小时",
    version: "版本", fromCache: "（来自缓存）", older: "旧版本", activeNow: "当前版本", noRecipe: "无配方", lastBeat: "上次心跳",
    empty: "○ 空闲", writingState: "▶ 写入中", done: "✔ 完成", failedState: "✖ 失败", interrupted: "■ 已中断",
    notTaken: "⏏ 请取下", check: "⚠ 检查此槽位", noBoard: "产线数据库中没有此板", language: "English",
    kind: "项", file: "文件", bytes: "字节", result: "结果", outcome: "结果", operator: "操作员", seconds: "秒",
    station: "工位", slot: "槽位", started: "开始", yield: "良率", from: "从", to: "到",
    alerts: "槽位警报", noAlerts: "没有槽位要求检查", boards: "板列表", olderBoards: "更早的板",
    chooseSlot: "点击槽位（或工位名）列出其板", allSlots: "所有槽位", noMore: "没有更早的板",
  },
  en: {
    title: "The line", recipes: "Recipes", recipe: "Recipe", active: "Active version", activated: "Activated",
    writing: "Stations writing", board: "A board's record", show: "Show", running: "running", silent: "silent",
    stopped: "stopped", away: "the line database does not answer", unknown: "unknown", today: "today",
    written: "written", failed: "failed", perHour: "per hour", version: "version", fromCache: " (from the cache)",
    older: "older version", activeNow: "active version", noRecipe: "no recipe", lastBeat: "last heartbeat", empty: "○ Empty",
    writingState: "▶ Writing", done: "✔ Done", failedState: "✖ Failed", interrupted: "■ Interrupted",
    notTaken: "⏏ Remove board", check: "⚠ Check this slot", noBoard: "the line database has no such board",
    language: "中文", kind: "Item", file: "File", bytes: "Bytes", result: "Result", outcome: "Outcome",
    operator: "Operator", seconds: "s", station: "Station", slot: "Slot", started: "Started",
    yield: "Yield", from: "from", to: "to", alerts: "Slot alerts", noAlerts: "no slot asks to be checked",
    boards: "Boards", olderBoards: "Older boards", chooseSlot: "choose a slot (or a station's name) to list its boards",
    allSlots: "every slot", noMore: "no older board",
  },
};
let language = localStorage.getItem("tamsolt-language") || (navigator.language.startsWith("zh") ? "zh" : "en");
const w = (key) => WORDS[language][key];

// An element with its class and text; children may follow.
function el(tag, className, text, ...children) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined && text !== null) node.textContent = String(text);
  for (const child of children) node.append(child);
  return node;
}

// A time the database gives in UTC, as the line reads its clocks.
function localTime(iso) {
  return iso ? new Date(iso).toLocaleString(language === "zh" ? "zh-CN" : "en-GB") : w("unknown");
}

// YYYY-MM-DD of a local date.
function dayOf(date) {
  return `${date.getFullYear()}-${String(date.getMonth() + 1).padStart(2, "0")}-${String(date.getDate()).padStart(2, "0")}`;
}

function tileWords(slot) {
  if (slot.present && !slot.taken && slot.not_taken) return w("notTaken");
  switch (slot.state) {
    case "writing": return `${w("writingState")} ${slot.item} ${slot.percent}%`;
    case "done": return w("done");
    case "failed": return w("failedState");
    case "interrupted": return w("interrupted");
    default: return w("empty");
  }
}

function tile(slot) {
  const notTaken = slot.present && !slot.taken && slot.not_taken;
  const node = el("div", `tile ${notTaken ? "not-taken" : slot.state}${slot.check ? " check" : ""}`);
  node.dataset.slot = slot.slot;
  node.append(el("div", "name", slot.name || slot.slot), el("div", "port", slot.name ? slot.slot : ""),
              el("div", "words", tileWords(slot)));
  if (slot.reason) node.append(el("div", "reason", slot.reason));
  if (slot.check) node.append(el("div", "alert", w("check")));
  return node;
}

// A station's name and facts: its state, recipe version, boards and heartbeat.
function stationHead(s) {
  const state = el("span", `state-${s.state}`, w(s.state));
  let recipe = w("noRecipe");
  if (s.recipe) recipe = `${s.recipe} ${w("version")} ${s.recipe_version ?? "?"}${s.recipe_away ? w("fromCache") : ""}`;
  const recipeNode = el("span", "recipe", recipe);
  if (s.recipe && s.active_version !== null && s.recipe_version !== s.active_version) {
    recipeNode.append(" ", el("span", "older", `${w("older")} (${w("activeNow")} ${s.active_version})`));
  }
  return [
    el("h2", "", s.station),
    el("div", "facts", undefined, state, recipeNode,
       el("span", "today", `${w("today")}: ${w("written")} ${s.written_today}, ${w("failed")} ${s.failed_today}`),
       el("span", "hour", `${w("perHour")}: ${s.boards_last_hour}`),
       el("span", "beat", `${w("lastBeat")}: ${localTime(s.heartbeat_utc)} (${s.program_version})`)),
  ];
}

// parent's children are these nodes, in this order.
function holds(parent, nodes) {
  return parent.children.length === nodes.length && nodes.every((node, i) => parent.children[i] === node);
}

// Each station as drawn, by its name: its article, its head and each tile with
// what it was drawn from. Only what changed is drawn again: a busy line
// changes a few tiles at a time, and the rest stay as they are.
let drawn = new Map();

function drawStations(stations) {
  const kept = new Map();
  const articles = stations.map((s) => {
    const { slots, ...facts } = s;
    const d = drawn.get(s.station) || { node: el("article"), grid: el("div", "tiles"), tiles: new Map() };
    const className = `station ${s.state}`;
    if (d.node.className !== className) d.node.className = className;
    d.node.dataset.station = s.station;
    const headFrom = language + JSON.stringify(facts);
    if (d.headFrom !== headFrom) {
      d.head = stationHead(s);
      d.headFrom = headFrom;
    }
    const tiles = new Map();
    for (const slot of slots) {
      const from = language + JSON.stringify(slot);
      const had = d.tiles.get(slot.slot);
      tiles.set(slot.slot, had && had.from === from ? had : { from, node: tile(slot) });
    }
    d.tiles = tiles;
    const tileNodes = [...tiles.values()].map((t) => t.node);
    if (!holds(d.grid, tileNodes)) d.grid.replaceChildren(...tileNodes);
    if (!holds(d.node, [...d.head, d.grid])) d.node.replaceChildren(...d.head, d.grid);
    kept.set(s.station, d);
    return d.node;
  });
  drawn = kept;
  const container = document.getElementById("stations");
  if (!holds(container, articles)) container.replaceChildren(...articles);
}

async function ask(path) {
  const response = await fetch(path, { cache: "no-store" });
  const body = await response.json();
  if (!response.ok) throw Object.assign(new Error(body.error || response.statusText), { status: response.status });
  return body;
}

function databaseSays(error) {
  const status = document.getElementById("database");
  status.textContent = error ? `${w("away")}: ${error.message}` : "";
  status.classList.toggle("away", Boolean(error));
}

async function showStations() {
  try {
    const answer = await ask("/api/v1/stations");
    drawStations(answer.stations);
    showAlerts(answer.stations);
    databaseSays(null);
  } catch (error) {
    // What was shown stays, marked as no longer known.
    databaseSays(error);
  }
}

// Every slot of the line that asks to be checked, with the station's state
// beside it (a silent station's alert may be old).
function showAlerts(stations) {
  const alerts = stations.flatMap((s) => s.slots.filter((slot) => slot.check).map((slot) =>
    el("li", "", `${s.station} · ${slot.name || slot.slot}${slot.name ? ` (${slot.slot})` : ""}: ${w("check")}` +
       `${slot.reason ? ` · ${slot.reason}` : ""}${s.state === "running" ? "" : ` · ${w(s.state)}`}`)));
  document.getElementById("alerts").replaceChildren(...(alerts.length ? alerts : [el("li", "none", w("noAlerts"))]));
}

async function showRecipes() {
  try {
    const answer = await ask("/api/v1/recipes");
    const rows = answer.recipes.map((r) => el("tr", "", undefined,
      el("td", "", r.name), el("td", "", r.active_version), el("td", "", `${localTime(r.activated_utc)} ${r.activated_by}`),
      el("td", "", r.stations.map((s) => `${s.station}: ${s.version}${s.away ? w("fromCache") : ""}`).join(", "))));
    document.querySelector("#recipes tbody").replaceChildren(...rows);
  } catch (error) {
    databaseSays(error);
  }
}

// The chosen days' boards per station and slot (today unless chosen), the
// failures by reason, and boards per hour as bars under the local hour.
async function showYield() {
  const from = document.getElementById("from"), to = document.getElementById("to");
  if (!from.value) from.value = dayOf(new Date());
  if (!to.value || to.value < from.value) to.value = from.value;
  const span = from.value !== to.value;
  try {
    const answer = await ask(`/api/v1/yield?from=${from.value}&to=${to.value}`);
    document.querySelector("#yield tbody").replaceChildren(...answer.slots.map((s) => el("tr", "", undefined,
      el("td", "", s.station), el("td", "", s.slot), el("td", "", s.written), el("td", "", s.failed))));
    document.getElementById("reasons").replaceChildren(...answer.failures_by_reason.map((r) =>
      el("li", "", `${r.boards} × ${r.reason}`)));
    const most = Math.max(1, ...answer.per_hour.map((h) => h.boards));
    document.getElementById("hours").replaceChildren(...answer.per_hour.map((h) => {
      const at = new Date(h.hour);
      const hour = String(at.getHours()).padStart(2, "0");
      const label = span ? `${at.getMonth() + 1}-${at.getDate()} ${hour}` : hour;
      const bar = el("div", "bar", undefined, el("span", "", h.boards), el("small", "", label));
      bar.title = `${localTime(h.hour)}: ${h.boards}`;
      bar.style.setProperty("--share", String(h.boards / most));
      return bar;
    }));
  } catch (error) {
    databaseSays(error);
  }
}

// A station's boards (of one slot when given), newest first, a page of size
// boards at a time; after: the last board listed (the next page).
async function showBoards(station, slot, after, size = 20) {
  const list = document.getElementById("boards");
  try {
    const query = new URLSearchParams({ station, slot, limit: String(size) });
    if (after) query.set("before", after);
    const answer = await ask(`/api/v1/boards?${query}`);
    const rows = answer.boards.map((b) => {
      const open = el("button", "link mono", b.uuid);
      open.type = "button";
      open.addEventListener("click", () => {
        document.getElementById("uuid").value = b.uuid;
        showBoard(b.uuid);
      });
      return el("tr", b.outcome_code === 0 ? "" : "failed", undefined, el("td", "", localTime(b.started_utc)),
        el("td", "", b.slot), el("td", "", `${b.outcome} (${b.outcome_code})`),
        el("td", "", `${Number(b.seconds).toFixed(1)} ${w("seconds")}`), el("td", "", b.operator),
        el("td", "", undefined, open));
    });
    const parts = [el("h3", "", `${station} · ${slot ? slot : w("allSlots")}`)];
    if (rows.length) parts.push(el("table", "", undefined, ...rows));
    const last = answer.boards[answer.boards.length - 1];
    if (rows.length === size) {
      const older = el("button", "", w("olderBoards"));
      older.type = "button";
      older.addEventListener("click", () => showBoards(station, slot, last.uuid, size));
      parts.push(older);
    } else {
      parts.push(el("p", "none", w("noMore")));
    }
    list.replaceChildren(...parts);
  } catch (error) {
    list.replaceChildren(el("p", "reason", error.message));
  }
}

async function showBoard(uuid) {
  const record = document.getElementById("record");
  try {
    const answer = await ask(`/api/v1/boards/${encodeURIComponent(uuid)}`);
    const b = answer.board;
    const head = el("p", "", `${w("station")} ${b.station} · ${w("slot")} ${b.slot} · ${w("started")} ${localTime(b.started_utc)} · ` +
      `${w("outcome")} ${b.outcome} (${b.outcome_code}) · ${Number(b.seconds).toFixed(1)} ${w("seconds")} · ${w("operator")} ${b.operator} · ` +
      `${w("recipe")} ${b.recipe || "-"} ${b.recipe_version ?? ""}`);
    if (b.message) head.append(el("div", "reason", b.message));
    const rows = answer.images.map((i) => el("tr", "", undefined, el("td", "", i.kind), el("td", "", i.file),
      el("td", "", i.bytes), el("td", "mono", i.sha256), el("td", "", i.result)));
    const table = el("table", "", undefined, el("tr", "", undefined, el("th", "", w("kind")), el("th", "", w("file")),
      el("th", "", w("bytes")), el("th", "", "SHA-256"), el("th", "", w("result"))), ...rows);
    record.replaceChildren(head, table);
  } catch (error) {
    record.replaceChildren(el("p", "reason", error.status === 404 ? w("noBoard") : error.message));
  }
}

function showWords() {
  document.documentElement.lang = language;
  document.getElementById("title").textContent = w("title");
  document.getElementById("language").textContent = w("language");
  for (const node of document.querySelectorAll("[data-words]")) node.textContent = w(node.dataset.words);
}

// One question of a kind under way at a time: a change told meanwhile asks
// once more after it, however many were told (a busy line tells many a second).
function oneAtATime(show) {
  let running = false;
  let again = false;
  return async () => {
    if (running) {
      again = true;
      return;
    }
    running = true;
    try {
      do {
        again = false;
        await show();
      } while (again);
    } finally {
      running = false;
    }
  };
}

// At most once every ms: what is told in between is asked at its end.
function atMostEvery(ms, show) {
  let last = 0;
  let timer = null;
  return () => {
    if (timer) return;
    timer = setTimeout(() => {
      timer = null;
      last = Date.now();
      show();
    }, Math.max(0, last + ms - Date.now()));
  };
}

const askStations = oneAtATime(showStations);
// The yield and the recipes change with a board or a recipe, not with every slot's percentage.
const askTheRest = atMostEvery(2000, () => { showRecipes(); showYield(); });

function showAll() {
  showWords();
  askStations();
  showRecipes();
  showYield();
}

// The service says when something changed; the page then asks again. Without
// the socket (the service restarting) it asks every 5 s until it is back.
function listen() {
  const scheme = location.protocol === "https:" ? "wss" : "ws";
  const socket = new WebSocket(`${scheme}://${location.host}/api/v1/live`);
  let polling = null;
  socket.onmessage = () => { askStations(); askTheRest(); };
  socket.onopen = () => { askStations(); askTheRest(); };
  socket.onclose = () => {
    polling = setInterval(askStations, 5000);
    setTimeout(() => { clearInterval(polling); listen(); }, 5000);
  };
}

document.getElementById("language").addEventListener("click", () => {
  language = language === "zh" ? "en" : "zh";
  localStorage.setItem("tamsolt-language", language);
  showAll();
});
// A tile lists its slot's boards, a station's name all of its own.
function chosen(event) {
  const station = event.target.closest(".station");
  const tile = event.target.closest(".tile");
  if (!station || (!tile && !event.target.closest("h2"))) return;
  showBoards(station.dataset.station, tile ? tile.dataset.slot : "");
}
document.getElementById("stations").addEventListener("click", chosen);
for (const id of ["from", "to"]) document.getElementById(id).addEventListener("change", showYield);
document.getElementById("lookup").addEventListener("submit", (event) => {
  event.preventDefault();
  showBoard(document.getElementById("uuid").value.trim());
});
showAll();
// A silent station is known by its heartbeat's age: ask again even when nothing is told.
setInterval(askStations, 5000);
listen();

// pavo-mcp's screenshot on a private virtual desktop (scripts/desktop-up) with gtk3-widget-factory and a
// real pavo-agent: the picture is a PNG of the window's size, and the text read from it is where the tree
// says the same label is.

import { test, after } from "node:test";
import assert from "node:assert/strict";
import { execFileSync, spawn } from "node:child_process";
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import * as h from "./harness.mjs";

// Not one of the harness's directories: those go in stopAll, and desktop-down needs this one's pid list after.
const state = mkdtempSync(join(tmpdir(), "pavo-mcp-desktop-"));
const exports = execFileSync(join(h.bin.source, "scripts/desktop-up"), [state, "--owner", String(process.pid)], { encoding: "utf8" });
const desktop = Object.fromEntries([...exports.matchAll(/^export (\w+)='?([^'\n]*)'?$/gm)].map((m) => [m[1], m[2]]));
const home = h.tempDir("home");
const env = { ...desktop, HOME: home };

const factory = spawn("gtk3-widget-factory", [], { env: { PATH: process.env.PATH, ...env }, stdio: "ignore" });
after(async () => {
  if (process.exitCode) console.error(session?.stderr());
  await session?.client.close();
  factory.kill("SIGTERM");
  h.stopAll();
  execFileSync(join(h.bin.source, "scripts/desktop-down"), [state]);
  rmSync(state, { recursive: true, force: true });
});

const agent = await h.start(h.bin.agent, ["--port", "0", "--token", "agent-secret"], { ...env, OMP_THREAD_LIMIT: "1" },
  "Server listening on 127.0.0.1:");
const session = await h.connect(h.portOf(agent.line), home, desktop);
const { client } = session;

// The widget factory's window, once the accessibility bus shows it.
async function factoryWindow() {
  return h.eventually(async () => {
    const reply = await client.callTool({ name: "ax_tree", arguments: { root_pid: factory.pid } });
    return reply.structuredContent?.tree?.children?.find((c) => c.role === "AXWindow" && c.frame);
  }, 15000);
}

function pngSize(base64) {
  const bytes = Buffer.from(base64, "base64");
  assert.equal(bytes.subarray(1, 4).toString(), "PNG");
  return { width: bytes.readUInt32BE(16), height: bytes.readUInt32BE(20) };
}

const inside = (x, y, f, slack = 4) => x >= f.x - slack && x <= f.x + f.width + slack && y >= f.y - slack && y <= f.y + f.height + slack;

test("a screenshot of the window is a PNG of the window's size", async () => {
  const window = await factoryWindow();
  assert.ok(window, "gtk3-widget-factory never showed its window");
  const shot = await client.callTool({ name: "screenshot", arguments: { pid: factory.pid } });
  assert.equal(shot.isError, false, JSON.stringify(shot.content.filter((c) => c.type === "text")));
  const image = shot.content.find((c) => c.type === "image");
  const png = pngSize(image.data);
  const described = shot.structuredContent;
  assert.deepEqual([png.width, png.height], [described.width, described.height]);
  // The captured area is the window's frame as the tree gives it, cut to the 1600x1000 screen.
  const area = described.screenArea;
  assert.deepEqual([area.x, area.y], [Math.max(0, window.frame.x), Math.max(0, window.frame.y)]);
  assert.equal(area.width, Math.min(window.frame.x + window.frame.width, 1600) - area.x);
  assert.equal(png.width, Math.round(area.width * described.scale));
});

test("with ocr, a label the tree shows is read where the tree says it is", async (t) => {
  const shot = await client.callTool({ name: "screenshot", arguments: { pid: factory.pid, ocr: true } });
  if (shot.isError && /not_found/.test(shot.content.find((c) => c.type === "text").text)) {
    t.skip("this pavo-agent has no /ocr route yet");
    return;
  }
  assert.equal(shot.isError, false, JSON.stringify(shot.content.filter((c) => c.type === "text")));
  const lines = shot.structuredContent.ocr;
  const tree = (await client.callTool({ name: "ax_tree", arguments: { root_pid: factory.pid } })).structuredContent.tree;
  const labelled = [];
  const walk = (e) => {
    if (e.label && e.label.length >= 4 && e.frame && e.frame.width > 0) labelled.push(e);
    (e.children ?? []).forEach(walk);
  };
  walk(tree);
  const seen = labelled.filter((e) => lines.some((l) => {
    const b = l.boundingBox;
    return l.text.includes(e.label) && inside(b.x + b.width / 2, b.y + b.height / 2, e.frame, 40);
  }));
  assert.ok(seen.length > 0, `no label of the tree was read in its place; read: ${lines.map((l) => l.text).join(" | ")}`);
});

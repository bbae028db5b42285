// What pavo-mcp adds to a tool call: the same agent request made directly over HTTP and as an MCP
// tools/call through pavo-mcp's stdio, alternated in one run against one simulated pavo-agent.
//   node bench/mcp_roundtrip.mjs [BUILD_DIR] [ROUNDS]      (BUILD_DIR default build/default)
// Both paths open a fresh loopback connection per agent request, as pavo-mcp does, and both parse the
// JSON they get. Prints medians and the difference per tool, without and then with a pavo-overlay taking
// the call's events.

import { spawn } from "node:child_process";
import { mkdtempSync, rmSync, copyFileSync, mkdirSync } from "node:fs";
import { connect } from "node:net";
import { tmpdir } from "node:os";
import { join, resolve } from "node:path";

const build = resolve(process.argv[2] ?? "build/default");
const rounds = Number(process.argv[3] ?? 1000);
const source = resolve(new URL("..", import.meta.url).pathname);
const children = [];
const home = mkdtempSync(join(tmpdir(), "pavo-mcp-bench-"));

function run(program, args, env, prefix) {
  const child = spawn(program, args, { env: { PATH: process.env.PATH, ...env }, stdio: ["pipe", "pipe", "pipe"] });
  children.push(child);
  if (!prefix) return { child };
  return new Promise((ok, fail) => {
    let out = "";
    child.stdout.on("data", (c) => {
      out += c;
      const line = out.split("\n").find((l) => l.startsWith(prefix));
      if (line) ok({ child, port: Number(line.slice(line.lastIndexOf(":") + 1)) });
    });
    child.on("exit", (code) => fail(new Error(`${program} exited ${code}: ${out}`)));
  });
}

// A bare HTTP/1.1 exchange on a fresh connection, its JSON body parsed, as a client of the agent would.
function direct(port, path, body) {
  const payload = JSON.stringify(body);
  return new Promise((ok, fail) => {
    const socket = connect(port, "127.0.0.1");
    const chunks = [];
    socket.on("data", (c) => chunks.push(c));
    socket.on("error", fail);
    socket.on("end", () => {
      const text = Buffer.concat(chunks).toString();
      const head = text.indexOf("\r\n\r\n");
      if (!text.startsWith("HTTP/1.1 200")) return fail(new Error(text.slice(0, 200)));
      ok(JSON.parse(text.slice(head + 4)));
    });
    socket.end(`POST ${path} HTTP/1.1\r\nHost: 127.0.0.1\r\nx-pavo-token: bench\r\nContent-Type: application/json\r\n` +
      `Content-Length: ${Buffer.byteLength(payload)}\r\nConnection: close\r\n\r\n${payload}`);
  });
}

function mcpSession(agentPort) {
  const { child } = run(join(build, "src/pavo-mcp"), ["--port", String(agentPort), "--token", "bench"], { HOME: home });
  const waiting = new Map();
  let pending = [];
  child.stdout.on("data", (chunk) => {
    for (let end; (end = chunk.indexOf(10)) >= 0; chunk = chunk.subarray(end + 1)) {
      pending.push(chunk.subarray(0, end));
      const message = JSON.parse(Buffer.concat(pending).toString());
      pending = [];
      waiting.get(message.id)?.(message);
      waiting.delete(message.id);
    }
    if (chunk.length) pending.push(chunk);
  });
  let nextId = 0;
  const call = (method, params) => new Promise((ok) => {
    const id = ++nextId;
    waiting.set(id, ok);
    child.stdin.write(JSON.stringify({ jsonrpc: "2.0", id, method, params }) + "\n");
  });
  return { child, call };
}

const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];

async function measure(label, session, agentPort, tool, path, args) {
  const viaMcp = [], straight = [];
  for (let i = 0; i < rounds + 50; i++) {
    let t = process.hrtime.bigint();
    await direct(agentPort, path, args);
    const d = Number(process.hrtime.bigint() - t) / 1e6;
    t = process.hrtime.bigint();
    const reply = await session.call("tools/call", { name: tool, arguments: args });
    const m = Number(process.hrtime.bigint() - t) / 1e6;
    if (reply.result?.isError !== false) throw new Error(JSON.stringify(reply));
    if (i >= 50) { straight.push(d); viaMcp.push(m); }  // the first 50 warm up
  }
  const [md, mm] = [median(straight), median(viaMcp)];
  console.log(`${label.padEnd(34)} direct ${md.toFixed(3)} ms   via pavo-mcp ${mm.toFixed(3)} ms   added ${(mm - md).toFixed(3)} ms`);
}

try {
  const scene = join(home, "scene.json");
  copyFileSync(join(source, "scenes/text_editor.json"), scene);
  const agent = await run(join(build, "src/pavo-agent"), ["--port", "0", "--token", "bench"],
    { HOME: home, VEXLO_PAVO_DESKTOP: "simulated", VEXLO_PAVO_DESKTOP_SCENE: scene }, "Server listening on 127.0.0.1:");
  console.log(`${rounds} rounds per line, medians; load average ${(await import("node:os")).loadavg()[0].toFixed(2)}`);
  const plain = mcpSession(agent.port);
  await plain.call("initialize", { protocolVersion: "2025-11-25", capabilities: {}, clientInfo: { name: "bench", version: "1" } });
  await measure("ax_find (no overlay)", plain, agent.port, "ax_find", "/ax/find", { role: "AXButton", label: "Save" });
  await measure("ax_tree, 1,000+ elements (no overlay)", plain, agent.port, "ax_tree", "/ax/tree", {});

  // pavo-overlay running offscreen, with pavo-mcp posting the call's events to it.
  const runtime = join(home, "runtime");
  mkdirSync(runtime, { recursive: true, mode: 0o700 });
  await run(join(build, "src/pavo-overlay"), ["--token", "o", "--port", "0", "--no-menu-bar"],
    { HOME: home, QT_QPA_PLATFORM: "offscreen", XDG_RUNTIME_DIR: runtime }, "[EventServer] Listening on");
  const withOverlay = mcpSession(agent.port);
  await withOverlay.call("initialize", { protocolVersion: "2025-11-25", capabilities: {}, clientInfo: { name: "bench", version: "1" } });
  await measure("ax_find (overlay shown each step)", withOverlay, agent.port, "ax_find", "/ax/find", { role: "AXButton", label: "Save" });
} finally {
  for (const child of children) child.kill("SIGTERM");
  rmSync(home, { recursive: true, force: true });
}

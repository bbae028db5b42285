// Starts the real programs for the client tests and stops every one of them again: pavo-overlay
// (offscreen), pavo-agent on a simulated desktop, and pavo-mcp through the SDK's stdio transport.

import { spawn } from "node:child_process";
import { mkdtempSync, rmSync, mkdirSync, copyFileSync, readFileSync, existsSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { Client } from "@modelcontextprotocol/sdk/client/index.js";
import { StdioClientTransport } from "@modelcontextprotocol/sdk/client/stdio.js";

export const bin = {
  agent: process.env.PAVO_AGENT_BINARY,
  overlay: process.env.PAVO_OVERLAY_BINARY,
  mcp: process.env.PAVO_MCP_BINARY,
  source: process.env.PAVO_SOURCE_DIR,
};

const children = [];
const dirs = [];

export function tempDir(name) {
  const dir = mkdtempSync(join(tmpdir(), `pavo-mcp-${name}-`));
  dirs.push(dir);
  return dir;
}

// Runs a program and resolves with the first output line that starts with `prefix`.
export function start(program, args, env, prefix) {
  const child = spawn(program, args, { env: { PATH: process.env.PATH, ...env }, stdio: ["ignore", "pipe", "pipe"] });
  children.push(child);
  let output = "";
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`${program} did not print "${prefix}":\n${output}`)), 15000);
    const look = (chunk) => {
      output += chunk;
      const line = output.split("\n").find((l) => l.startsWith(prefix));
      if (line) {
        clearTimeout(timer);
        resolve({ child, line, output: () => output });
      }
    };
    child.stdout.on("data", look);
    child.stderr.on("data", (chunk) => (output += chunk));
    child.on("exit", (code) => reject(new Error(`${program} exited with ${code}:\n${output}`)));
  });
}

export const portOf = (line) => Number(line.slice(line.lastIndexOf(":") + 1));

export async function startOverlay(home, consent = "manual") {
  const runtime = join(home, "runtime");
  mkdirSync(runtime, { mode: 0o700, recursive: true });
  const started = await start(bin.overlay, ["--token", "overlay-secret", "--port", "0", "--no-menu-bar", "--consent", consent],
    { HOME: home, QT_QPA_PLATFORM: "offscreen", XDG_RUNTIME_DIR: runtime }, "[EventServer] Listening on 127.0.0.1:");
  const socketFile = join(home, "Library/Application Support/Vexlo/Pavo/overlay.sock");
  for (let i = 0; i < 100 && !existsSync(socketFile); i++) await sleep(50);
  return { ...started, port: portOf(started.line) };
}

// A simulated agent with its own copy of the example scene and a journal of what it did.
export async function startAgent(home) {
  const scene = join(home, "scene.json");
  copyFileSync(join(bin.source, "scenes/text_editor.json"), scene);
  const journal = join(home, "journal.jsonl");
  const started = await start(bin.agent, ["--port", "0", "--token", "agent-secret"],
    { HOME: home, VEXLO_PAVO_DESKTOP: "simulated", VEXLO_PAVO_DESKTOP_SCENE: scene, VEXLO_PAVO_DESKTOP_JOURNAL: journal },
    "Server listening on 127.0.0.1:");
  const gated = await new Promise((resolve) => {
    const check = () => (/Consent gate: (.*)/.exec(started.output()) ? resolve(started.output().includes("overlay at")) : setTimeout(check, 20));
    check();
  });
  return { ...started, port: portOf(started.line), journal, gated };
}

export function journalOf(path, kind) {
  if (!existsSync(path)) return [];
  return readFileSync(path, "utf8").split("\n").filter(Boolean).map((l) => JSON.parse(l)).filter((e) => e.kind === kind);
}

export async function connect(agentPort, home, extraEnv = {}) {
  const transport = new StdioClientTransport({
    command: bin.mcp,
    args: ["--port", String(agentPort)],
    env: { PATH: process.env.PATH, HOME: home, VEXLO_PAVO_SIDECAR_TOKEN: "agent-secret", ...extraEnv },
    stderr: "pipe",
  });
  let stderr = "";
  transport.stderr?.on("data", (chunk) => (stderr += chunk));
  const client = new Client({ name: "pavo-tests", version: "1.0.0" });
  // Every message each way, for tests that must see what was (not) answered.
  const sent = [], received = [];
  const send = transport.send.bind(transport);
  transport.send = (message, options) => (sent.push(message), send(message, options));
  await client.connect(transport);
  const onmessage = transport.onmessage;
  transport.onmessage = (message, extra) => (received.push(message), onmessage?.(message, extra));
  return { client, transport, sent, received, stderr: () => stderr };
}

export async function overlayStats(port) {
  const reply = await fetch(`http://127.0.0.1:${port}/stats`, { headers: { "x-overlay-token": "overlay-secret" } });
  return reply.json();
}

export const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

export async function eventually(check, ms = 5000) {
  const until = Date.now() + ms;
  for (;;) {
    const value = await check();
    if (value || Date.now() > until) return value;
    await sleep(25);
  }
}

export function stopAll() {
  for (const child of children) if (child.exitCode === null) child.kill("SIGTERM");
  for (const dir of dirs) rmSync(dir, { recursive: true, force: true });
}

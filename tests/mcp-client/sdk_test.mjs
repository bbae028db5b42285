// pavo-mcp driven by the official MCP TypeScript SDK client against a real pavo-agent (simulated desktop)
// and a real pavo-overlay (offscreen, in manual mode: every display and audit event it is sent is refused
// and counted by its /stats, and every consent prompt goes unanswered, which the agent takes as a denial).

import { test, after } from "node:test";
import assert from "node:assert/strict";
import Ajv2020 from "ajv/dist/2020.js";
import * as h from "./harness.mjs";

const overlayHome = h.tempDir("overlay-home");
const agentHome = h.tempDir("agent-home");
const overlay = await h.startOverlay(overlayHome);
const agent = await h.startAgent(agentHome);             // no overlay.sock: not gated
const gatedAgent = await h.startAgent(overlayHome);        // reads overlay.sock: every action asks the operator
assert.equal(agent.gated, false);
assert.equal(gatedAgent.gated, true);

const session = await h.connect(agent.port, overlayHome);
const { client } = session;
after(async () => {
  await client.close();
  h.stopAll();
});

const expectedTools = ["ax_tree", "ax_find", "ax_click", "ax_type", "ax_scroll", "keystrokes", "run_script",
  "run_shortcut", "list_shortcuts", "ocr", "visual_find", "tree_and_ocr", "batch_begin", "batch_end", "screenshot"];

test("lists every tool with a valid input schema and a description", async () => {
  const { tools } = await client.listTools();
  assert.deepEqual(tools.map((t) => t.name).sort(), [...expectedTools].sort());
  const ajv = new Ajv2020({ strict: true });
  for (const tool of tools) {
    assert.ok(tool.description.length > 40, tool.name);
    assert.equal(tool.inputSchema.type, "object", tool.name);
    assert.doesNotThrow(() => ajv.compile(tool.inputSchema), tool.name);
  }
  assert.equal(client.getServerVersion().name, "pavo-mcp");
});

test("ax_find then ax_click presses the button in the simulated desktop, and the overlay counts each event", async () => {
  const before = (await h.overlayStats(overlay.port)).rejections;
  const found = await client.callTool({ name: "ax_find", arguments: { role: "AXButton", label: "Save" } });
  assert.equal(found.isError, false);
  const save = found.structuredContent.matches.find((m) => m.label === "Save");
  assert.ok(save, JSON.stringify(found.structuredContent));
  const boxes = Math.min(20, found.structuredContent.matches.filter((m) => m.frame).length);

  const clicked = await client.callTool({ name: "ax_click", arguments: { elementId: save.id } });
  assert.equal(clicked.isError, false, JSON.stringify(clicked));
  assert.equal(clicked.structuredContent.method, "ax_press");
  assert.match(clicked.content[0].text, /^Clicked/);
  const presses = h.journalOf(agent.journal, "action");
  assert.equal(presses.length, 1, JSON.stringify(presses));
  assert.equal(presses[0].action, "AXPress");

  // In manual mode the overlay refuses (and counts) every display and audit event; agent states pass.
  // ax_find: status twice, a box per match, the audit record. ax_click: status twice, halo, ripple, audit.
  const expected = before + (2 + boxes + 1) + (2 + 1 + 1 + 1);
  const reached = await h.eventually(async () => (await h.overlayStats(overlay.port)).rejections >= expected);
  assert.ok(reached, "the overlay saw fewer events than expected");
  await h.sleep(300);
  assert.equal((await h.overlayStats(overlay.port)).rejections, expected);
});

test("a call cancelled while the operator is being asked is never answered, and the session goes on", async () => {
  const gated = await h.connect(gatedAgent.port, overlayHome);
  try {
    const found = await gated.client.callTool({ name: "ax_find", arguments: { label: "Save" } });
    const controller = new AbortController();
    const pending = gated.client.callTool({ name: "ax_click", arguments: { elementId: found.structuredContent.matches[0].id } },
      undefined, { signal: controller.signal });
    await h.eventually(() => gated.sent.some((m) => m.params?.name === "ax_click"));
    const id = gated.sent.find((m) => m.params?.name === "ax_click").id;
    controller.abort("changed my mind");
    await assert.rejects(pending);
    assert.ok(gated.sent.some((m) => m.method === "notifications/cancelled" && m.params.requestId === id));
    // Past the agent's two seconds for the operator's answer, when a denial would have come back.
    await h.sleep(2500);
    assert.equal(gated.received.filter((m) => m.id === id).length, 0, "pavo-mcp answered a cancelled call");
    const next = await gated.client.callTool({ name: "batch_end", arguments: { batch_id: "x" } });
    assert.equal(next.isError, false);
  } finally {
    await gated.client.close();
  }
});

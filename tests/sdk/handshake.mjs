// The official MCP TypeScript SDK client connects to `taskbell --mcp` over stdio, checks the handshake and
// lists the tools; any schema validation error from the SDK fails the test.
// Usage: node handshake.mjs /path/to/taskbell
import assert from 'node:assert/strict';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';

const executable = process.argv[2];
assert.ok(executable, 'usage: node handshake.mjs TASKBELL');

const config = mkdtempSync(join(tmpdir(), 'taskbell-sdk-'));
const transport = new StdioClientTransport({
    command: executable,
    args: ['--mcp'],
    env: { ...process.env, XDG_CONFIG_HOME: config },
    stderr: 'pipe',
});

// Record what the server sends, to check the negotiated protocol version.
const received = [];
const start = transport.start.bind(transport);
transport.start = async () => {
    await start();
    const deliver = transport.onmessage;
    transport.onmessage = (message) => {
        received.push(message);
        deliver?.(message);
    };
};

const client = new Client({ name: 'taskbell-sdk-test', version: '1.0.0' });
try {
    await client.connect(transport);

    const initialize = received.find((m) => m.id !== undefined && m.result?.protocolVersion);
    assert.ok(initialize, 'initialize result seen');
    // The SDK asks for its newest version; the server answers with one it supports.
    assert.ok(['2025-06-18', '2025-03-26', '2024-11-05'].includes(initialize.result.protocolVersion));
    assert.deepEqual(client.getServerVersion(), { name: 'taskbell', version: '1.10.0' });
    assert.deepEqual(client.getServerCapabilities(), { tools: { listChanged: false } });

    await client.ping();
    const { tools } = await client.listTools();
    assert.deepEqual(
        tools.map((t) => t.name),
        ['create_task', 'list_tasks', 'set_status', 'get_task', 'update_task'],
    );
    for (const tool of tools) {
        assert.equal(tool.inputSchema.type, 'object');
    }
    console.log(`sdk handshake ok: protocol ${initialize.result.protocolVersion}, ${tools.length} tools`);
} finally {
    await client.close();
    rmSync(config, { recursive: true, force: true });
}

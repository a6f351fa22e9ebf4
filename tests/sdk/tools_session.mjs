// One end-to-end session through the official MCP TypeScript SDK client: the handshake, then all five tools
// against the fake Jira Cloud server, with the settings in a temporary XDG folder and the token in the
// (private) keyring.
// Usage: node tools_session.mjs TASKBELL FAKE_JIRA
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';

const [executable, fakeJira] = process.argv.slice(2);
assert.ok(executable && fakeJira, 'usage: node tools_session.mjs TASKBELL FAKE_JIRA');

// Start the fake and read its address and credentials from what it prints.
const server = spawn(fakeJira, [], { stdio: ['ignore', 'ignore', 'pipe'] });
const banner = await new Promise((resolve, reject) => {
    let text = '';
    server.stderr.on('data', (chunk) => {
        text += chunk;
        if (text.includes('Ctrl-C')) resolve(text);
    });
    server.on('exit', () => reject(new Error(`fake Jira ended early: ${text}`)));
});
const site = banner.match(/at (\S+)/)[1];
const email = banner.match(/e-mail: (\S+)/)[1];
const token = banner.match(/token:\s+(\S+)/)[1];

const config = mkdtempSync(join(tmpdir(), 'taskbell-sdk-'));
mkdirSync(join(config, 'com.quillet.taskbell'), { recursive: true });
writeFileSync(join(config, 'com.quillet.taskbell', 'settings.json'),
    JSON.stringify({ baseURL: site, email, projectKey: 'TB', defaultIssueType: 'Task', monthsBack: 2 }));
// The token goes in through standard input, never the command line.
const store = spawnSync('secret-tool',
    ['store', '--label=Taskbell API token', 'service', 'com.quillet.taskbell', 'account', 'apiToken'],
    { input: token });
assert.equal(store.status, 0, `secret-tool store failed: ${store.stderr}`);

const transport = new StdioClientTransport({
    command: executable,
    args: ['--mcp'],
    env: { ...process.env, XDG_CONFIG_HOME: config, XDG_STATE_HOME: config + '/state', TZ: 'UTC' },
    stderr: 'pipe',
});
const client = new Client({ name: 'taskbell-sdk-tools', version: '1.0.0' });

async function call(name, args) {
    const result = await client.callTool({ name, arguments: args });
    assert.equal(result.content.length, 1);
    assert.equal(result.content[0].type, 'text');
    return { text: result.content[0].text, isError: result.isError === true };
}

try {
    // The SDK refuses a handshake in a protocol version it does not support; any schema error fails too.
    await client.connect(transport);
    assert.deepEqual(client.getServerVersion(), { name: 'taskbell', version: '1.10.0' });
    assert.deepEqual(client.getServerCapabilities(), { tools: { listChanged: false } });
    await client.ping();
    const { tools } = await client.listTools();
    assert.deepEqual(tools.map((t) => t.name), ['create_task', 'list_tasks', 'set_status', 'get_task', 'update_task']);

    // The tools' texts are pinned by the scenes of the C++ tool tests; here each call must pass the SDK's
    // schema checks and succeed, and a rejected argument must come back as a tool error.
    const created = await call('create_task', { summary: 'From the SDK', status: 'in_progress' });
    assert.equal(created.isError, false, created.text);
    const key = created.text.match(/^Created (\S+) \u2014 From the SDK\n/)[1];
    for (const [name, args] of [['list_tasks', { filter: 'all' }], ['set_status', { issueKey: key, status: 'done' }],
        ['update_task', { issueKey: key, summary: 'Renamed', description: 'Body\n- one' }]]) {
        const result = await call(name, args);
        assert.equal(result.isError, false, `${name}: ${result.text}`);
    }
    const read = await call('get_task', { issueKey: key.toLowerCase() });
    assert.ok(read.text.startsWith(`${key} \u2014 Renamed\nStatus: Done \u00b7 Type: Task`), read.text);
    const failed = await call('set_status', { issueKey: 'TB', status: 'done' });
    assert.deepEqual(failed, { text: "`issueKey` must look like PROJ-123 \u2014 got 'TB'.", isError: true });
    console.log('sdk tools session ok');
} finally {
    await client.close();
    server.kill('SIGTERM');
    spawnSync('secret-tool', ['clear', 'service', 'com.quillet.taskbell', 'account', 'apiToken']);
    rmSync(config, { recursive: true, force: true });
}

// Serves a folder on localhost, for `make web-serve` and the page's tests:
// node web/serve.mjs DIR [PORT]. Port 0 picks a free one; the line it
// prints names the address.
import { createServer } from 'node:http';
import { readFile } from 'node:fs/promises';
import { extname, join, normalize } from 'node:path';

const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm', '.json': 'application/json' };

export function serve(dir, port = 0) {
  const server = createServer(async (request, response) => {
    const path = normalize(decodeURIComponent(new URL(request.url, 'http://localhost').pathname));
    try {
      const body = await readFile(join(dir, path.endsWith('/') ? path + 'index.html' : path));
      response.writeHead(200, { 'content-type': TYPES[extname(path) || '.html'] || 'application/octet-stream', 'cache-control': 'no-store' });
      response.end(body);
    } catch {
      response.writeHead(404).end();
    }
  });
  return new Promise((resolve) => server.listen(port, '127.0.0.1', () => resolve(server)));
}

if (import.meta.url == `file://${process.argv[1]}`) {
  const server = await serve(process.argv[2], +(process.argv[3] || 0));
  console.log(`serving ${process.argv[2]} at http://localhost:${server.address().port}/`);
}

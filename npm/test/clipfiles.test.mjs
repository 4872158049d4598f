// The npm packages as a user gets them: the packed tarballs installed offline into fresh
// projects, read through both entries and `npx clipfiles`, on a private Xvfb and a headless
// sway with real clipboard owners.
//   CLIPFILES_TEST_PACKAGES=DIR CLIPFILES_TEST_X11_OWNER=FILE node --test npm/test/
// DIR holds the .tgz files of npm/pack.mjs: the main package and this platform's.
import assert from "node:assert/strict";
import fs from "node:fs";
import { createRequire } from "node:module";
import path from "node:path";
import { after, before, describe, test } from "node:test";
import { fileURLToPath, pathToFileURL } from "node:url";
import {
  Clipboard, childrenNamed, installProject, offlineNpmEnv, run, start, startSway, startXvfb,
  stopAll, temporaryDirectory, uriList, waitForChild, waylandEnv, x11Env,
} from "./support.mjs";

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "../..");
const packages = process.env.CLIPFILES_TEST_PACKAGES;
const x11Owner = process.env.CLIPFILES_TEST_X11_OWNER;
if (!packages || !x11Owner) {
  throw new Error("set CLIPFILES_TEST_PACKAGES and CLIPFILES_TEST_X11_OWNER (see npm/test/run)");
}
const platform = `${process.platform}-${process.arch}`;
const version = /^project\(clipfiles VERSION (\S+)/m
  .exec(fs.readFileSync(path.join(root, "CMakeLists.txt"), "utf8"))[1];
const mainTarball = path.join(packages, `clipfiles-${version}.tgz`);
const platformTarball = path.join(packages, `clipfiles-${platform}-${version}.tgz`);

let installed; // { project, env }: the main package and this platform's
let bare; // the main package alone, installed with --omit=optional
let esm;
let cjs;
let binary; // the native tool inside the platform package
let xvfb;
let sway;
let x11;
let wayland;

before(async () => {
  installed = installProject("full", [mainTarball, platformTarball]);
  bare = installProject("bare", [mainTarball], ["--omit=optional"]);
  esm = await import(pathToFileURL(path.join(installed.project, "esm.mjs")));
  cjs = createRequire(path.join(installed.project, "package.json"))("./cjs.cjs");
  binary = path.join(installed.project, "node_modules/@clipfiles", platform, "bin/clipfiles");
  [xvfb, sway] = await Promise.all([startXvfb(), startSway()]);
  x11 = new Clipboard(x11Env(xvfb.display), "x11");
  wayland = new Clipboard(waylandEnv(sway), "wayland");
});

// The owners first, while their servers still run, then the servers.
after(async () => {
  await Promise.all([x11?.clear(), wayland?.clear()]);
  await stopAll();
});

// The four ways to call a read: each entry, each variant.
function readers() {
  return [
    ["ESM readCopiedFiles", (options) => esm.readCopiedFiles(options)],
    ["CommonJS readCopiedFiles", (options) => cjs.readCopiedFiles(options)],
    ["ESM readCopiedFilesSync", async (options) => esm.readCopiedFilesSync(options)],
    ["CommonJS readCopiedFilesSync", async (options) => cjs.readCopiedFilesSync(options)],
  ];
}

// The native tool's own answer, run directly.
function native(env) {
  return run([binary], { env });
}

function toolMessage(stderr) {
  const text = stderr.toString();
  assert.match(text, /^clipfiles: [^\n]+\n$/, "the tool prints one line on failure");
  return text.slice("clipfiles: ".length, -1);
}

describe("installed packages", () => {
  test("an offline install adds the main package and this platform's, nothing else", () => {
    const modules = path.join(installed.project, "node_modules");
    assert.deepEqual(fs.readdirSync(path.join(modules, "@clipfiles")), [platform]);
    const main = JSON.parse(fs.readFileSync(path.join(modules, "clipfiles/package.json")));
    const native = JSON.parse(fs.readFileSync(path.join(modules, "@clipfiles", platform,
      "package.json")));
    assert.equal(main.version, version);
    assert.equal(native.version, version);
    for (const dependency of Object.values(main.optionalDependencies)) {
      assert.equal(dependency, version);
    }
    assert.deepEqual([native.os, native.cpu], [[process.platform], [process.arch]]);
    if (process.platform === "linux") assert.deepEqual(native.libc, ["glibc"]);
    assert.equal(native.preferUnplugged, true);
    fs.accessSync(binary, fs.constants.X_OK);
    assert.equal(cjs.findBinary(), binary);
    const bareModules = fs.readdirSync(path.join(bare.project, "node_modules"));
    assert.deepEqual(bareModules.filter((name) => !name.startsWith(".")), ["clipfiles"]);
  });

  test("the status table is the one of exit_statuses.def", () => {
    const defined = fs.readFileSync(path.join(root, "src/tool/exit_statuses.def"), "utf8")
      .split("\n").filter((line) => line.startsWith("CLIPFILES_EXIT_STATUS("))
      .map((line) => line.split(", ").slice(0, 2));
    const statuses = JSON.parse(fs.readFileSync(path.join(installed.project,
      "node_modules/clipfiles/statuses.json")));
    const nonZero = defined.filter(([, value]) => value !== "0");
    assert.deepEqual(Object.keys(statuses).sort(), nonZero.map(([, value]) => value).sort());
    for (const [macro, value] of nonZero) {
      assert.equal(statuses[value].name, macro.slice("CLIPFILES_EXIT_STATUS(".length));
    }
    // The codes the README and the declarations promise.
    const promised = { 65: "ERR_CLIPFILES_DATA", 69: "ERR_CLIPFILES_UNAVAILABLE",
      70: "ERR_CLIPFILES_SOFTWARE", 74: "ERR_CLIPFILES_IO", 75: "ERR_CLIPFILES_TEMPFAIL" };
    for (const [value, code] of Object.entries(promised)) assert.equal(statuses[value].code, code);
    const declarations = fs.readFileSync(path.join(root, "npm/clipfiles/index.d.ts"), "utf8");
    const readme = fs.readFileSync(path.join(root, "npm/clipfiles/README.md"), "utf8");
    for (const { code } of Object.values(statuses)) {
      assert.ok(declarations.includes(`"${code}"`), `index.d.ts declares ${code}`);
      assert.ok(readme.includes(`\`${code}\``), `the package's README lists ${code}`);
    }
  });

  test("LICENSE holds the terms of docs/copyright", () => {
    const words = (text) => text.replace(/^ \.$/gm, "").split(/\s+/).filter(Boolean).join(" ");
    const copyright = fs.readFileSync(path.join(root, "docs/copyright"), "utf8");
    const terms = copyright.slice(copyright.lastIndexOf("License: MIT\n") + 13);
    const license = fs.readFileSync(path.join(installed.project, "node_modules/clipfiles/LICENSE"),
      "utf8");
    assert.ok(words(license).endsWith(words(terms)));
  });

  test("ESM and CommonJS share one implementation", () => {
    assert.equal(esm.readCopiedFiles, cjs.readCopiedFiles);
    assert.equal(esm.ClipfilesError, cjs.ClipfilesError);
  });
});

const lists = [
  ["one file", ["/tmp/a.txt"]],
  ["several, with spaces", ["/tmp/a.txt", "/tmp/b c.txt", "/srv/two  spaces/ end "]],
  ["UTF-8 names", ["/home/zoë/Café ☕/naïve.txt", "/tmp/日本語のファイル", "/tmp/emoji 🎉"]],
  ["a newline, a quote, a backslash", ["/tmp/line\nbreak", '/tmp/say "hi"', "/tmp/back\\slash"]],
  ["a directory, duplicates kept", ["/home/user/Projects", "/tmp/x", "/tmp/x"]],
  ["escaped ? # % in names", ["/tmp/what?.txt", "/tmp/#1", "/tmp/100%"]],
];

describe("lists", () => {
  for (const kind of ["x11", "wayland"]) {
    const owner = kind === "x11" ? "xclip" : "wl-copy";
    for (const [name, paths] of lists) {
      test(`${kind}, ${owner}: ${name}`, async () => {
        const clipboard = kind === "x11" ? x11 : wayland;
        await clipboard.offer("text/uri-list", uriList(paths));
        for (const [reader, read] of readers()) {
          assert.deepEqual(await read({ env: clipboard.env }), paths, reader);
        }
      });
    }
    test(`${kind}, ${owner}: text is no files`, async () => {
      const clipboard = kind === "x11" ? x11 : wayland;
      await clipboard.offer("text/plain", "/tmp/a.txt\n");
      for (const [reader, read] of readers()) {
        assert.deepEqual(await read({ env: clipboard.env }), [], reader);
      }
    });
  }

  test("x11, an owner of x-special/gnome-copied-files alone", async () => {
    const paths = ["/tmp/a.txt", "/tmp/b c/ü.txt"];
    await x11.offerExactly(x11Owner, {
      "x-special/gnome-copied-files": `copy\n${uriList(paths).replaceAll("\r\n", "\n").trim()}`,
    });
    for (const [reader, read] of readers()) {
      assert.deepEqual(await read({ env: x11.env }), paths, reader);
    }
  });

  test("the default environment is process.env", async () => {
    await wayland.offer("text/uri-list", uriList(["/tmp/from process.env"]));
    const saved = { ...process.env };
    try {
      for (const name of Object.keys(process.env)) delete process.env[name];
      Object.assign(process.env, wayland.env);
      assert.deepEqual(await cjs.readCopiedFiles(), ["/tmp/from process.env"]);
      assert.deepEqual(cjs.readCopiedFilesSync(), ["/tmp/from process.env"]);
    } finally {
      for (const name of Object.keys(process.env)) delete process.env[name];
      Object.assign(process.env, saved);
    }
  });
});

// Each failure of the tool, as both variants report it: the status, its code, and the tool's
// own message.
describe("failures of the tool", () => {
  const failures = [
    ["no display", 69, "ERR_CLIPFILES_UNAVAILABLE", async () => {
      const env = x11Env(":0");
      delete env.DISPLAY;
      return env;
    }],
    ["an X display that nobody serves", 69, "ERR_CLIPFILES_UNAVAILABLE",
      async () => x11Env(":7999")],
    ["a path that is not UTF-8", 65, "ERR_CLIPFILES_DATA", async () => {
      await x11.offerExactly(x11Owner, { "text/uri-list": Buffer.from("file:///tmp/%FF\r\n") });
      return x11.env;
    }],
    ["an owner that never answers", 75, "ERR_CLIPFILES_TEMPFAIL", async () => {
      await x11.offerExactly(x11Owner, { "text/uri-list": "file:///tmp/a\r\n" }, ["--silent"]);
      return x11.env;
    }],
  ];
  for (const [name, status, code, setUp] of failures) {
    test(`${name}: status ${status}, ${code}`, async () => {
      const env = await setUp();
      const expected = native(env);
      assert.equal(expected.status, status);
      const message = toolMessage(expected.stderr);
      const variants = [
        ["readCopiedFiles", () => cjs.readCopiedFiles({ env })],
        ["readCopiedFilesSync", async () => cjs.readCopiedFilesSync({ env })],
      ];
      for (const [variant, read] of variants) {
        await assert.rejects(read, (error) => {
          assert.ok(error instanceof cjs.ClipfilesError, variant);
          assert.equal(error.name, "ClipfilesError");
          assert.deepEqual([error.exitStatus, error.code, error.message, error.signal],
            [status, code, message, null], variant);
          return true;
        });
      }
    });
  }
});

describe("stopping a read", () => {
  before(async () => {
    await x11.offerExactly(x11Owner, { "text/uri-list": "file:///tmp/a\r\n" }, ["--silent"]);
  });

  // The tool itself gives up on a silent owner after 2 seconds, with status 75: a timeout code
  // well before then means the limit stopped it.
  for (const variant of ["readCopiedFiles", "readCopiedFilesSync"]) {
    test(`${variant}: a timeout of 300 ms kills the tool`, async () => {
      const begun = Date.now();
      const read = variant === "readCopiedFiles"
        ? cjs.readCopiedFiles({ env: x11.env, timeout: 300 })
        : (async () => cjs.readCopiedFilesSync({ env: x11.env, timeout: 300 }))();
      if (variant === "readCopiedFiles") await waitForChild("clipfiles");
      await assert.rejects(read, { name: "ClipfilesError", code: "ERR_CLIPFILES_TIMEOUT",
        exitStatus: null });
      assert.ok(Date.now() - begun < 2000, "the tool was stopped before its own limit");
      assert.deepEqual(childrenNamed("clipfiles"), []);
    });
  }

  test("an AbortSignal kills the tool", async () => {
    const begun = Date.now();
    const controller = new AbortController();
    const read = cjs.readCopiedFiles({ env: x11.env, signal: controller.signal });
    await waitForChild("clipfiles");
    const reason = new Error("the user went elsewhere");
    controller.abort(reason);
    await assert.rejects(read, (error) => {
      assert.ok(error instanceof cjs.ClipfilesError);
      assert.deepEqual([error.name, error.code, error.cause, error.exitStatus],
        ["AbortError", "ABORT_ERR", reason, null]);
      return true;
    });
    assert.ok(Date.now() - begun < 2000, "the tool was stopped before its own limit");
    assert.deepEqual(childrenNamed("clipfiles"), []);
  });

  test("a signal from elsewhere that ends the tool", async () => {
    const read = cjs.readCopiedFiles({ env: x11.env });
    process.kill(await waitForChild("clipfiles"), "SIGTERM");
    await assert.rejects(read, { code: "ERR_CLIPFILES_SIGNAL", signal: "SIGTERM",
      exitStatus: null });
  });

  test("a signal already aborted runs nothing", async () => {
    await wayland.offer("text/uri-list", uriList(["/tmp/a"]));
    assert.deepEqual(await cjs.readCopiedFiles({ env: wayland.env }), ["/tmp/a"]);
    const reason = new Error("too late");
    await assert.rejects(
      cjs.readCopiedFiles({ env: wayland.env, signal: AbortSignal.abort(reason) }),
      { name: "AbortError", code: "ABORT_ERR", cause: reason });
  });
});

describe("npx clipfiles", () => {
  const npx = (env, project = installed.project) =>
    run(["npx", "--offline", "clipfiles"], { cwd: project, env: { ...offlineNpmEnv(
      path.join(project, ".npm-cache")), ...env } });

  const cases = [
    ["a list", async () => {
      await x11.offer("text/uri-list", uriList(lists[3][1].concat(lists[2][1])));
      return x11.env;
    }],
    ["text", async () => {
      await wayland.offer("text/plain", "hello");
      return wayland.env;
    }],
    ["no display", async () => {
      const env = x11Env(":0");
      delete env.DISPLAY;
      return env;
    }],
    ["a silent owner", async () => {
      await x11.offerExactly(x11Owner, { "text/uri-list": "file:///a\r\n" }, ["--silent"]);
      return x11.env;
    }],
  ];
  for (const [name, setUp] of cases) {
    test(`prints what the tool prints: ${name}`, async () => {
      const env = await setUp();
      const expected = native(env);
      const got = npx(env);
      assert.deepEqual(got, expected);
    });
  }

  test("a signal to the launcher goes on to the tool, and ends the launcher", async () => {
    await x11.offerExactly(x11Owner, { "text/uri-list": "file:///a\r\n" }, ["--silent"]);
    const launcher = start([path.join(installed.project, "node_modules/.bin/clipfiles")],
      { env: x11.env });
    const tool = await waitForChild("clipfiles", launcher.pid);
    launcher.kill("SIGTERM");
    assert.deepEqual(await launcher.exited, [null, "SIGTERM"]);
    assert.ok(!fs.existsSync(`/proc/${tool}`), "the tool is gone");
  });
});

describe("finding the binary", () => {
  let reader;
  before(async () => {
    reader = createRequire(path.join(bare.project, "package.json"))("./cjs.cjs");
    await wayland.offer("text/uri-list", uriList(["/tmp/found"]));
  });

  // A PATH of one directory, holding node (the launcher's "#!/usr/bin/env node" needs it) and
  // the given entries; not node's own directory, which may hold an installed clipfiles.
  function pathWith(entries) {
    const directory = temporaryDirectory("path");
    for (const [name, target] of Object.entries({ node: process.execPath, ...entries })) {
      fs.symlinkSync(target, path.join(directory, name));
    }
    return directory;
  }

  test("without the platform package: a clear error, from the API and from npx", async () => {
    const env = { ...wayland.env, PATH: pathWith({}) };
    const expected = { code: "ERR_CLIPFILES_NO_BINARY", exitStatus: null,
      message: new RegExp(`@clipfiles/${platform}.*--omit=optional`) };
    await assert.rejects(reader.readCopiedFiles({ env }), expected);
    assert.throws(() => reader.readCopiedFilesSync({ env }), expected);
    const npx = run([path.join(bare.project, "node_modules/.bin/clipfiles")], { env });
    assert.equal(npx.status, 69);
    assert.equal(npx.stdout.length, 0);
    assert.match(toolMessage(npx.stderr), expected.message);
  });

  test("without the platform package, a clipfiles on PATH is run", async () => {
    const env = { ...wayland.env, PATH: pathWith({ clipfiles: binary }) };
    assert.deepEqual(await reader.readCopiedFiles({ env }), ["/tmp/found"]);
    const npx = run([path.join(bare.project, "node_modules/.bin/clipfiles")], { env });
    assert.deepEqual([npx.status, npx.stdout.toString()], [0, '["\\/tmp\\/found"]']);
  });

  test("the package's own launcher on PATH is not taken for the tool", async () => {
    const launcher = path.join(bare.project, "node_modules/.bin/clipfiles");
    const env = { ...wayland.env, PATH: pathWith({ clipfiles: launcher }) };
    await assert.rejects(reader.readCopiedFiles({ env }), { code: "ERR_CLIPFILES_NO_BINARY" });
  });

  test("CLIPFILES_BINARY names the binary to run", async () => {
    const env = { ...wayland.env, PATH: pathWith({}), CLIPFILES_BINARY: binary };
    assert.deepEqual(reader.readCopiedFilesSync({ env }), ["/tmp/found"]);
    await assert.rejects(reader.readCopiedFiles({ env: { ...env, CLIPFILES_BINARY: "/nonexistent" } }),
      { code: "ERR_CLIPFILES_NO_BINARY", message: /cannot run \/nonexistent/ });
  });

  // A stand-in for the tool that exits with status 0 and prints what the real one never does.
  const badOutputs = [
    ["not JSON", "not json"],
    ["an object", '{"a":1}'],
    ["a number in the array", '["\\/a",1]'],
    ["a string", '"\\/a"'],
    ["nothing", ""],
    ["bytes that are not UTF-8", Buffer.from([0x5b, 0x22, 0xff, 0x22, 0x5d])],
  ];
  for (const [name, output] of badOutputs) {
    test(`output that is not a list: ${name}`, async () => {
      const directory = temporaryDirectory("fake");
      fs.writeFileSync(path.join(directory, "output"), output);
      const fake = path.join(directory, "clipfiles");
      fs.writeFileSync(fake, `#!/bin/sh\nexec cat '${directory}/output'\n`, { mode: 0o755 });
      const env = { ...wayland.env, CLIPFILES_BINARY: fake };
      const expected = { code: "ERR_CLIPFILES_BAD_OUTPUT", exitStatus: 0 };
      await assert.rejects(cjs.readCopiedFiles({ env }), expected);
      assert.throws(() => cjs.readCopiedFilesSync({ env }), expected);
    });
  }

  test("options are checked", async () => {
    await assert.rejects(cjs.readCopiedFiles({ timeout: -1 }), RangeError);
    await assert.rejects(cjs.readCopiedFiles({ signal: {} }), TypeError);
    assert.throws(() => cjs.readCopiedFilesSync({ signal: AbortSignal.abort() }), TypeError);
    assert.throws(() => cjs.readCopiedFilesSync(null), TypeError);
  });
});

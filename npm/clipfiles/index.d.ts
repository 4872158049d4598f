export interface ReadOptions {
  /**
   * Stops the tool after this many milliseconds; the call then fails with
   * `ERR_CLIPFILES_TIMEOUT`. 0 or absent: no limit of ours (the tool ends any read within
   * 30 seconds by itself).
   */
  timeout?: number;
  /** The environment the tool runs in, which names the display to read. Default: `process.env`. */
  env?: Record<string, string | undefined>;
}

/** AbortSignal is global in Node (@types/node) and in the DOM library. */
export interface AsyncReadOptions extends ReadOptions {
  /** Aborting it stops the tool; the promise then rejects with an `AbortError` (`ABORT_ERR`). */
  signal?: AbortSignal;
}

/** The `code` of a ClipfilesError. */
export type ClipfilesErrorCode =
  /** exit status 65: the file list cannot be written as JSON */
  | "ERR_CLIPFILES_DATA"
  /** exit status 69: no clipboard can be read (no display, or it cannot be reached) */
  | "ERR_CLIPFILES_UNAVAILABLE"
  /** exit status 70: an internal error of the tool */
  | "ERR_CLIPFILES_SOFTWARE"
  /** exit status 74: the display connection broke, or output could not be written */
  | "ERR_CLIPFILES_IO"
  /** exit status 75: the clipboard's owner or the display did not answer in time */
  | "ERR_CLIPFILES_TEMPFAIL"
  /** an exit status the tool does not document */
  | "ERR_CLIPFILES_EXIT"
  /** the `timeout` option ran out and the tool was stopped */
  | "ERR_CLIPFILES_TIMEOUT"
  /** the `signal` option was aborted and the tool was stopped (the error's name is AbortError) */
  | "ABORT_ERR"
  /** the tool was ended by a signal from elsewhere; see `signal` */
  | "ERR_CLIPFILES_SIGNAL"
  /** no binary for this platform: its package is not installed, or none is built for it */
  | "ERR_CLIPFILES_NO_BINARY"
  /** the tool exited with status 0 but did not print a JSON array of strings */
  | "ERR_CLIPFILES_BAD_OUTPUT";

export declare class ClipfilesError extends Error {
  /** `"ClipfilesError"`, or `"AbortError"` for `ABORT_ERR`. */
  name: string;
  code: ClipfilesErrorCode;
  /** The tool's exit status, or null when it did not exit by itself (or did not run). */
  exitStatus: number | null;
  /** The signal that ended the tool, for `ERR_CLIPFILES_SIGNAL`; else null. */
  signal: string | null;
}

/** The paths of the files copied to the clipboard, in the clipboard's order; [] for none. */
export declare function readCopiedFiles(options?: AsyncReadOptions): Promise<string[]>;

/** As readCopiedFiles, blocking this thread until the tool has answered. */
export declare function readCopiedFilesSync(options?: ReadOptions): string[];

/**
 * The path of the clipfiles binary that a read would run: `CLIPFILES_BINARY`, else this
 * platform's package, else a clipfiles on `PATH`. Throws `ERR_CLIPFILES_NO_BINARY` if none.
 */
export declare function findBinary(options?: { env?: Record<string, string | undefined> }): string;

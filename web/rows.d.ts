// quibbet-player/rows: reads import.txt as quibbet does.
import type { Osc } from './index.js';

/** The fault parseRows throws: its message is quibbet's "LINE:COL: expected ...". */
export interface RowsError extends SyntaxError {
  line: number;
  /** In bytes of UTF-8 from the line's start, after any byte order mark. */
  column: number;
  /** Of the fault, in bytes of UTF-8 from the start. */
  offset: number;
}

/**
 * The two oscillators of an import.txt, read exactly as `quibbet FILE` reads
 * them, each field the float quibbet reads; throws a RowsError for anything
 * quibbet refuses.
 */
export function parseRows(text: string | Uint8Array | ArrayBuffer): [Osc, Osc];

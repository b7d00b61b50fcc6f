// The replacer's loop written with JavaScript's own RegExp (flags "gu"), as the
// reference for the differential test.
//
// Input file: lines "E <hex>" (an expression) and "P <hex>" (a page), UTF-8 in hex.
// Output: for every expression, for every page, one line:
//   "R <count> <hex> <hex> ..." - the results in order, or
//   "X <message>"               - the expression failed.
'use strict';
const fs = require('fs');

function hexToText(hex) { return Buffer.from(hex, 'hex').toString('utf8'); }
function textToHex(text) { return Buffer.from(text, 'utf8').toString('hex'); }

function expand(format, m, text) {
  let out = '';
  const group = (n) => { if (n < m.length && m[n] !== undefined) out += m[n]; };
  const digit = (c) => c >= '0' && c <= '9';
  for (let i = 0; i < format.length; ++i) {
    const c = format[i];
    if (c !== '$') { out += c; continue; }
    if (i + 1 === format.length) { out += '$'; break; }
    const d = format[i + 1];
    if (d === '&') { group(0); ++i; }
    else if (d === '`') { out += text.slice(0, m.index); ++i; }
    else if (d === "'") { out += text.slice(m.index + m[0].length); ++i; }
    else if (digit(d)) {
      if (i + 2 < format.length && digit(format[i + 2])) {
        const n = Number(d) * 10 + Number(format[i + 2]);
        if (n === 0) out += '$00'; else group(n);
        i += 2;
      } else {
        if (d === '0') out += '$0'; else group(Number(d));
        ++i;
      }
    } else { out += '$' + d; ++i; }
  }
  return out;
}

function collect(pattern, format, text, out) {
  const re = new RegExp(pattern, 'gu');
  let m;
  while ((m = re.exec(text)) !== null) {
    out.push(expand(format, m, text));
    if (m[0].length === 0) {
      // Step past the empty match by one whole character.
      const cp = text.codePointAt(re.lastIndex);
      re.lastIndex += cp !== undefined && cp > 0xffff ? 2 : 1;
    }
  }
}

// Splits an expression into its pattern, format and chain parts.
function parse(expression) {
  if (expression.length === 0) throw new Error('Empty replacer expression');
  const sep = expression[0];
  let rest = expression.slice(1);
  if (!rest.includes(sep)) rest += sep + (rest.includes('(') ? '$1' : 'here to generate a valid match');
  const end = rest.indexOf(sep);
  const regex = rest.slice(0, end);
  const remainder = rest.slice(end + 1);
  const formatEnd = remainder.indexOf(sep);
  let format = remainder, chain = [];
  if (formatEnd >= 0) {
    format = remainder.slice(0, formatEnd);
    const c = remainder.slice(formatEnd + 1);
    chain = c === '' ? [] : c.split(sep);
  }
  return { regex, format, chain };
}

function apply(expression, page) {
  const { regex, format, chain } = parse(expression);
  const text = page.replace(/[\r\n]/g, ' ');
  const results = [];
  collect(regex, format, text, results);
  if (chain.length === 0) return results;
  if (chain.length !== 2) throw new Error('Invalid chain length ' + chain.length);
  const names = [];
  for (const key of results) collect(chain[0].split('\\match').join(key), chain[1], text, names);
  return names;
}

module.exports = { expand, parse, collect, apply };

function main() {
const expressions = [], pages = [];
for (const line of fs.readFileSync(process.argv[2], 'latin1').split('\n')) {
  if (line.startsWith('E ')) expressions.push(hexToText(line.slice(2)));
  if (line.startsWith('P ')) pages.push(hexToText(line.slice(2)));
}
const out = [];
for (const expression of expressions) {
  for (const page of pages) {
    try {
      const results = apply(expression, page);
      out.push('R ' + results.length + results.map((r) => ' ' + textToHex(r)).join(''));
    } catch (e) {
      out.push('X ' + String(e.message).replace(/\n/g, ' '));
    }
  }
}
fs.writeFileSync(process.argv[3], out.join('\n') + '\n');
}

if (require.main === module) main();

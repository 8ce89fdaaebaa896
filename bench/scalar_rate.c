/* The machine's scalar floating-point rate, for the limits printed by
 * bench/peers.py: twelve independent chains a = a * b + c of separate
 * multiplies and adds in double precision, held in registers, so that the
 * loop runs at the rate of the arithmetic units and not of memory.
 * peers.py compiles it without vectorization or contraction:
 *   cc -O2 -fno-tree-vectorize -fno-tree-slp-vectorize -ffp-contract=off -shared -fPIC
 * Returns a sum of the chains so that no chain is optimized away; each call
 * performs 24 * iters floating-point operations.
 */
double scalar_chains(long iters, double b, double c) {
  double a0 = 0.1, a1 = 0.2, a2 = 0.3, a3 = 0.4, a4 = 0.5, a5 = 0.6;
  double a6 = 0.7, a7 = 0.8, a8 = 0.9, a9 = 1.0, a10 = 1.1, a11 = 1.2;
  for (long i = 0; i < iters; ++i) {
    a0 = a0 * b + c;
    a1 = a1 * b + c;
    a2 = a2 * b + c;
    a3 = a3 * b + c;
    a4 = a4 * b + c;
    a5 = a5 * b + c;
    a6 = a6 * b + c;
    a7 = a7 * b + c;
    a8 = a8 * b + c;
    a9 = a9 * b + c;
    a10 = a10 * b + c;
    a11 = a11 * b + c;
  }
  return a0 + a1 + a2 + a3 + a4 + a5 + a6 + a7 + a8 + a9 + a10 + a11;
}

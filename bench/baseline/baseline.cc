// baseline.cc - slow, straightforward punb: naive Bayes and positive-unlabeled
// (spy + EM) text classification over sparse "index:count" document lines.
//
// Written plainly on purpose: fixed-size buffers, fgets/strtok/atoi, every
// file re-read at every pass. It is the reference that the optimised tool is
// measured and compared against, so arithmetic order matters everywhere.
//
// Build: g++ -std=c++20 -O2 -ffp-contract=off -Wall -Wextra baseline.cc -o baseline

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static const int LINE_SIZE = 500000;   // line buffer and prefix buffer
static const int MASK_SIZE = 500000;   // feature indices 0..499999
static const int TABLE_SIZE = 500001;  // word-count tables
static const int NAME_SIZE = 1000;
static const int MAX_ROUNDS = 20;

static const char* SEPARATOR =
    "****************************************************\n";  // 52 asterisks

// ---------------------------------------------------------------------------
// Buffers shared by the passes of one mode run.

static char* line_buf;    // one read takes at most 499999 characters
static char* prefix_buf;  // label prefix + line are joined here
static int* pair_idx;     // pairs of the document being processed
static int* pair_cnt;
static int npairs;

static void alloc_buffers() {
  line_buf = (char*)calloc(LINE_SIZE, 1);
  prefix_buf = (char*)calloc(LINE_SIZE, 1);
  pair_idx = (int*)calloc(MASK_SIZE, sizeof(int));
  pair_cnt = (int*)calloc(MASK_SIZE, sizeof(int));
}

// A fatal condition: one message, no line end, exit status 0.
static void die(const char* msg) {
  printf("%s", msg);
  exit(0);
}

static void usage_error() {
  printf("%s\n", "parameter format error!");
  getchar();  // wait for a key; end of input ends the wait
  exit(0);
}

// Reads one line into the line buffer; false at end of file.
static bool read_line(FILE* f) { return fgets(line_buf, LINE_SIZE, f) != nullptr; }

// Counted loops take exactly n lines; a file that ran short yields empty lines
// instead of stale buffer contents.
static void read_counted_line(FILE* f) {
  if (!read_line(f)) line_buf[0] = '\0';
}

// Parses the line in the line buffer. With a prefix (training lines) the
// prefix is put in front; without one (test lines) the line carries its own
// label. Returns the label; the pairs go to pair_idx/pair_cnt.
static int parse_line(const char* prefix) {
  strcat(line_buf, " -1:-1");  // the end pair stops every line
  if (prefix != nullptr) {
    strcpy(prefix_buf, prefix);
    strcat(prefix_buf, line_buf);
    strcpy(line_buf, prefix_buf);
  }
  npairs = 0;
  char* tok = strtok(line_buf, " ");
  int label = tok ? atoi(tok) : 0;
  int idx = 0, cnt = 0;
  while (!(idx == -1 && cnt == -1)) {
    tok = strtok(nullptr, ":");
    if (tok == nullptr) break;  // tokens ran out: keep what was read
    idx = atoi(tok);
    tok = strtok(nullptr, " ");
    if (tok == nullptr) break;
    cnt = atoi(tok);
    if (idx == -1 && cnt == -1) break;
    // Negative indices are never used by any pass; indices past the mask
    // cannot be stored.
    if (idx < 0 || idx >= MASK_SIZE) continue;
    pair_idx[npairs] = idx;
    pair_cnt[npairs] = cnt;
    npairs++;
  }
  return label;
}

// Adds the parsed pairs to a count table; lowest is 1 in naive Bayes mode and
// 0 in positive-unlabeled mode. mask may be null (second stage keeps it as is).
static void add_counts(double* table, int* mask, int lowest) {
  for (int q = 0; q < npairs; q++) {
    int i = pair_idx[q];
    if (i < lowest) continue;
    if (mask != nullptr) mask[i] = 1;
    table[i] += (double)pair_cnt[q];
  }
}

// V = number of masked indices, L = largest masked index (0 when none).
static void measure_vocabulary(const int* mask, int* V, int* L) {
  *V = 0;
  *L = 0;
  for (int i = 0; i < MASK_SIZE; i++) {
    if (mask[i] == 1) {
      (*V)++;
      *L = i;
    }
  }
}

// Turns counts into smoothed word probabilities in place over 0..last.
static void smooth_tables(double* pos, double* neg, int V, int last, double lambda) {
  double tneg = 0.0, tpos = 0.0;
  for (int i = 0; i <= last; i++) tneg += neg[i];
  for (int i = 0; i <= last; i++) tpos += pos[i];
  double dneg = lambda * (double)V + tneg;
  double dpos = lambda * (double)V + tpos;
  for (int i = 0; i <= last; i++) {
    neg[i] = (lambda + neg[i]) / dneg;
    pos[i] = (lambda + pos[i]) / dpos;
  }
}

// Log-space naive Bayes score of the parsed document. The scores are shifted
// after every counted word so that the smaller one is 0.
static void score_document(const double* pos, const double* neg, const int* mask, double pneg,
                           double ppos, double* out_neg, double* out_pos) {
  const double B = (double)(int64_t)100000000000000LL;
  double sN = std::log(pneg);
  double sP = std::log(ppos);
  for (int q = 0; q < npairs; q++) {
    int i = pair_idx[q];
    if (i == -1 || mask[i] != 1) continue;
    double c = (double)pair_cnt[q];
    sN = sN + c * std::log(neg[i]);
    sP = sP + c * std::log(pos[i]);
    double m = B;
    if (sN < m) m = sN;
    if (sP < m) m = sP;
    sN = sN - m;
    sP = sP - m;
  }
  double M = -B;
  if (sN > M) M = sN;
  if (sP > M) M = sP;
  double eN = std::exp(sN - (M + 2));
  double eP = std::exp(sP - (M + 2));
  double S = eN + eP;
  *out_pos = eP / S;
  *out_neg = eN / S;
}

// ---------------------------------------------------------------------------
// Evaluation counters and report lines.

struct Counters {
  int tp_count;  // test positives
  int tn_count;  // test negatives
  double pred_pos, pred_neg, true_pos, true_neg;
};

static void check_label(int label, Counters* c) {
  if (label == 1)
    c->tp_count++;
  else if (label == -1)
    c->tn_count++;
  else {
    printf("test set: %s", "Data Format Error!!!");
    exit(0);
  }
}

static void count_decision(int label, double pneg, double ppos, Counters* c) {
  if (pneg > ppos) {  // ties and undecidable comparisons go to the positive class
    c->pred_neg += 1.0;
    if (label == -1) c->true_neg += 1.0;
  } else {
    c->pred_pos += 1.0;
    if (label == 1) c->true_pos += 1.0;
  }
}

struct Metrics {
  double recall, precision, fmeasure, accuracy;
};

static Metrics compute_metrics(const Counters& c) {
  Metrics m;
  double TP = c.true_pos, TN = c.true_neg, Pp = c.pred_pos;
  m.recall = 0.0;
  if (c.tp_count != 0) m.recall = (TP / (double)c.tp_count) * 100;
  if (Pp != 0)
    m.precision = (TP / Pp) * 100;
  else
    m.precision = 0;
  double F = 0;
  if (Pp != 0 && c.tp_count != 0) {
    double r = TP / (double)c.tp_count;
    double p = TP / Pp;
    if (r + p > 0)
      F = 2 * r * p / (r + p);
    else
      F = 0;
  }
  m.fmeasure = F * 100;
  m.accuracy = ((TP + TN) * 100) / (double)(c.tp_count + c.tn_count);
  return m;
}

// The recall text carries a third percent sign that prints nothing: the line
// ends in the figure, one '%' and a newline, like the other report lines.
static const char* RECALL_FMT = "The Recall of the positive class is %.3f%%\n";
static const char* NO_POS_TEXT = "There is no positive examples in test set\n";
static const char* PRECISION_FMT = "The Precision of the positive class is %.3f%%\n";
static const char* FMEASURE_FMT = "The F_measure for positive class is %.3f%%\n";
static const char* ACCURACY_FMT = "The Accuracy for both classes is %.3f%%\n";
static const char* ACCURACY_LOG_FMT = "The Accuracy for both classes is %.3f%%\n\n";

// ---------------------------------------------------------------------------
// Naive Bayes mode: unlabeled documents are the negative class.

static int naive_bayes_run(double lambda, const char* pos_name, const char* unl_name,
                           const char* test_name, const char* log_name, const char* out_name) {
  (void)log_name;  // this mode keeps no run log
  alloc_buffers();
  int* mask = (int*)calloc(MASK_SIZE, sizeof(int));
  double* pos = (double*)calloc(TABLE_SIZE, sizeof(double));
  double* neg = (double*)calloc(TABLE_SIZE, sizeof(double));

  FILE* out = fopen(out_name, "w");
  if (out == nullptr) die("can not write prob_result.txt");

  FILE* f = fopen(pos_name, "r");
  if (f == nullptr) die("can not read training set");
  int npos = 0;
  while (read_line(f)) {
    npos++;
    parse_line("1 ");
    add_counts(pos, mask, 1);
  }
  fclose(f);

  f = fopen(unl_name, "r");
  if (f == nullptr) die("can not read training set");
  int nunl = 0;
  while (read_line(f)) {
    nunl++;
    parse_line("-1 ");
    add_counts(neg, mask, 1);
  }
  fclose(f);

  int V, L;
  measure_vocabulary(mask, &V, &L);
  double pneg = (double)nunl / (double)(npos + nunl);
  double ppos = 1 - pneg;
  smooth_tables(pos, neg, V, L, lambda);

  f = fopen(test_name, "r");
  if (f == nullptr) die("can not read test set");
  Counters c = {0, 0, 0.0, 0.0, 0.0, 0.0};
  while (read_line(f)) {
    int label = parse_line(nullptr);
    check_label(label, &c);
    double dn, dp;
    score_document(pos, neg, mask, pneg, ppos, &dn, &dp);
    fprintf(out, "%.16f\n", dp);
    count_decision(label, dn, dp, &c);
  }
  fclose(f);

  Metrics m = compute_metrics(c);
  printf("\n");
  if (c.tp_count != 0)
    printf(RECALL_FMT, m.recall);
  else
    printf("%s", NO_POS_TEXT);
  printf(PRECISION_FMT, m.precision);
  printf(FMEASURE_FMT, m.fmeasure);
  printf(ACCURACY_FMT, m.accuracy);

  return fclose(out) == 0 ? 0 : 1;
}

// ---------------------------------------------------------------------------
// Positive-unlabeled mode state (one run per process).

static double *tpos, *tneg;  // word-count / word-probability tables
static int* vmask;
static int V_size, L_max;
static double lambda_w;
static double prior_neg, prior_pos;  // current model's priors

// Posterior-weighted counts of one document added to both tables.
static void gather(double* wneg, double* wpos, double dn, double dp) {
  for (int q = 0; q < npairs; q++) {
    int i = pair_idx[q];
    if (i < 0 || i > L_max + 1) continue;  // every gathered index was seen in training
    wneg[i] += (double)pair_cnt[q] * dn;
    wpos[i] += (double)pair_cnt[q] * dp;
  }
}

// Pseudo-random generator of the spy draw.
static uint32_t rng_state;
static void rng_seed(uint32_t s) { rng_state = s; }
static int rng_draw() {
  rng_state = rng_state * 214013u + 2531011u;
  return (int)((rng_state >> 16) & 32767u);
}

// One test pass of the current model: probability lines and result block to
// the run log, report to standard output. t = 0 is the first classifier.
static void test_pass(const char* test_name, FILE* lg, int t) {
  Counters c = {0, 0, 0.0, 0.0, 0.0, 0.0};
  FILE* f = fopen(test_name, "r");
  if (f == nullptr) die("can not read test set");
  while (read_line(f)) {
    int label = parse_line(nullptr);
    check_label(label, &c);
    double dn, dp;
    score_document(tpos, tneg, vmask, prior_neg, prior_pos, &dn, &dp);
    fprintf(lg, "%.16f\n", dp);
    count_decision(label, dn, dp, &c);
  }
  fclose(f);

  Metrics m = compute_metrics(c);
  fprintf(lg, "%s", SEPARATOR);
  if (t == 0) {
    fprintf(lg, "************< Naivebayes Result > *************\n");
    printf("\n************< Naivebayes Result > *************\n");
  } else {
    fprintf(lg, "************<  Iteration %d > *************\n", t);
    printf("\n************<  Iteration %d > *************\n", t);
  }
  if (c.tp_count != 0) {
    fprintf(lg, RECALL_FMT, m.recall);
    printf(RECALL_FMT, m.recall);
  } else {
    fprintf(lg, "%s", NO_POS_TEXT);
    printf("%s", NO_POS_TEXT);
  }
  fprintf(lg, PRECISION_FMT, m.precision);
  printf(PRECISION_FMT, m.precision);
  fprintf(lg, FMEASURE_FMT, m.fmeasure);
  fprintf(lg, ACCURACY_LOG_FMT, m.accuracy);
  printf(FMEASURE_FMT, m.fmeasure);
  printf(ACCURACY_FMT, m.accuracy);
}

// Scores the first n lines of the positive set with the current model and
// returns how many of them the model calls negative.
static int positive_self_check(const char* pos_name, int n, double* post_neg, double* post_pos) {
  FILE* f = fopen(pos_name, "r");
  if (f == nullptr) die("can not read training set");
  for (int j = 0; j < n; j++) {
    read_counted_line(f);
    parse_line("-1 ");
    score_document(tpos, tneg, vmask, prior_neg, prior_pos, &post_neg[j], &post_pos[j]);
  }
  fclose(f);
  int miss = 0;
  for (int j = 0; j < n; j++)
    if (post_neg[j] > post_pos[j]) miss++;
  return miss;
}

static bool is_separator(const char* s) {
  for (int i = 0; i < 52; i++)
    if (s[i] != '*') return false;  // also stops at the terminator
  return true;
}

static int pu_run(double rt, double lambda, double spy_frac, int rounds, const char* pos_name,
                  const char* unl_name, const char* test_name, const char* log_name,
                  const char* out_name, int iters) {
  // Values outside these ranges would index past the spy and round arrays.
  if (!(spy_frac >= 0.0 && spy_frac <= 1.0) || !(rt >= 0.0 && rt <= 1.0) || rounds > MAX_ROUNDS)
    usage_error();

  alloc_buffers();
  lambda_w = lambda;
  vmask = (int*)calloc(MASK_SIZE, sizeof(int));
  tpos = (double*)calloc(TABLE_SIZE, sizeof(double));
  tneg = (double*)calloc(TABLE_SIZE, sizeof(double));
  int T = iters;
  int nstat = (T > 0 ? T : 0) + 1;  // a negative count runs no iteration
  double* stat_prior = (double*)calloc(nstat, sizeof(double));
  int* stat_miss = (int*)calloc(nstat, sizeof(int));
  double* stat_rate = (double*)calloc(nstat, sizeof(double));
  int selected = 0;

  // --- spy selection and positive split
  FILE* lg = fopen(log_name, "w");
  if (lg == nullptr) die("can not read training set");

  FILE* f = fopen(pos_name, "r");
  if (f == nullptr) die("can not read training set");
  int N = 0;
  while (read_line(f)) N++;
  fclose(f);

  int k = (int)((double)N * spy_frac);
  rng_seed(2000);
  int* perm = (int*)calloc(N + 1, sizeof(int));
  for (int i = 0; i < N; i++) perm[i] = i;
  const double c = 1.0 / 32767.0;
  for (int i = N - 1; i >= 1; i--) {
    int r = rng_draw();
    int j = (int)(((double)r * c) * (double)i);
    int tmp = perm[i];
    perm[i] = perm[j];
    perm[j] = tmp;
  }
  for (int p = 0; p < k; p++) {  // selection sort of the spy numbers
    int best = p;
    for (int q = p + 1; q < k; q++)
      if (perm[q] < perm[best]) best = q;
    int tmp = perm[p];
    perm[p] = perm[best];
    perm[best] = tmp;
  }

  f = fopen(pos_name, "r");
  if (f == nullptr) die("can not read training set");
  FILE* fspy = fopen("spy", "w");
  if (fspy == nullptr) die("write error new file");
  FILE* fpws = fopen("pos_withoutspy", "w");
  if (fpws == nullptr) die("write error new file");
  int p = 0;
  for (int i = 0; i < N; i++) {
    read_counted_line(f);
    if (p < k && perm[p] == i) {
      fputs(line_buf, fspy);
      p++;
    } else {
      fputs(line_buf, fpws);
    }
  }
  fclose(f);
  fclose(fspy);
  fclose(fpws);

  // --- spy-step reading phase
  int remaining[MAX_ROUNDS] = {0};
  f = fopen("pos_withoutspy", "r");
  if (f == nullptr) die("can not read training set");
  while (read_line(f)) {
    parse_line("-1 ");
    add_counts(tpos, vmask, 0);
  }
  fclose(f);
  f = fopen(unl_name, "r");
  if (f == nullptr) die("can not read training set");
  int U = 0;
  while (read_line(f)) {
    U++;
    parse_line("-1 ");
    add_counts(tneg, vmask, 0);
  }
  fclose(f);
  f = fopen("spy", "r");
  if (f == nullptr) die("can not read training set");
  while (read_line(f)) {
    parse_line("-1 ");
    add_counts(tneg, vmask, 0);
  }
  fclose(f);

  measure_vocabulary(vmask, &V_size, &L_max);
  const int L = L_max;
  double* base = (double*)calloc(L + 3, sizeof(double));
  double* wpos = (double*)calloc(L + 3, sizeof(double));
  double* wneg = (double*)calloc(L + 3, sizeof(double));
  for (int i = 0; i <= L + 1; i++) base[i] = tpos[i];

  prior_neg = (double)(U + k) / (double)(N + U);
  prior_pos = 1 - prior_neg;
  smooth_tables(tpos, tneg, V_size, L + 1, lambda_w);

  double* spy_neg = (double*)calloc(k + 1, sizeof(double));
  double* spy_pos = (double*)calloc(k + 1, sizeof(double));
  double* un_neg = (double*)calloc(U + 1, sizeof(double));
  double* un_pos = (double*)calloc(U + 1, sizeof(double));
  const double floor_thr = std::exp(-200.0);

  for (int r = 0; r < rounds; r++) {
    for (int i = 0; i <= L + 1; i++) {
      wneg[i] = 0.0;
      wpos[i] = 0.0;
    }
    f = fopen("spy", "r");
    if (f == nullptr) die("can not read training set");
    for (int s = 0; s < k; s++) {
      read_counted_line(f);
      parse_line("-1 ");
      score_document(tpos, tneg, vmask, prior_neg, prior_pos, &spy_neg[s], &spy_pos[s]);
      gather(wneg, wpos, spy_neg[s], spy_pos[s]);
    }
    fclose(f);

    for (int a = 0; a < k; a++) {  // decreasing order, first largest to the front
      int best = a;
      for (int b = a + 1; b < k; b++)
        if (spy_pos[b] > spy_pos[best]) best = b;
      double tmp = spy_pos[a];
      spy_pos[a] = spy_pos[best];
      spy_pos[best] = tmp;
    }
    double keep = 1 - rt;
    double prod = keep * (double)k;
    int t = (int)prod;
    double threshold = spy_pos[t];
    if (threshold < floor_thr) threshold = 1.1;

    f = fopen(unl_name, "r");
    if (f == nullptr) die("can not read training set");
    for (int i = 0; i < U; i++) {
      read_counted_line(f);
      parse_line("-1 ");
      score_document(tpos, tneg, vmask, prior_neg, prior_pos, &un_neg[i], &un_pos[i]);
      gather(wneg, wpos, un_neg[i], un_pos[i]);
    }
    fclose(f);

    // --- reliable-negative split
    f = fopen(unl_name, "r");
    if (f == nullptr) die("can not read training set");
    char rem_name[64], rn_name[64];
    snprintf(rn_name, sizeof rn_name, "truetrain1matrix%d", r);
    snprintf(rem_name, sizeof rem_name, "unlabelmatrix%d", r);
    FILE* frem = fopen(rem_name, "w");
    if (frem == nullptr) die("can not write unlabelmatrix");
    FILE* frn = fopen(rn_name, "w");
    if (frn == nullptr) die("can not write file truetrain1matrix");
    for (int i = 0; i < U; i++) {
      read_counted_line(f);
      if (un_pos[i] <= threshold) {
        fputs(line_buf, frn);
      } else {
        fputs(line_buf, frem);
        remaining[r]++;
      }
    }
    fclose(f);
    fclose(frem);
    fclose(frn);

    // re-estimate for a following round
    double SN = 0.0, SP = 0.0;
    for (int i = 0; i < U; i++) SN += un_neg[i];
    for (int s = 0; s < k; s++) SN += spy_neg[s];
    for (int i = 0; i < U; i++) SP += un_pos[i];
    for (int s = 0; s < k; s++) SP += spy_pos[s];
    prior_neg = SN / (double)(N + U);
    prior_pos = ((double)(N - k) + SP) / (double)(N + U);
    for (int i = 0; i <= L + 1; i++) wpos[i] += base[i];
    for (int i = 0; i <= L + 1; i++) {
      tneg[i] = wneg[i];
      tpos[i] = wpos[i];
    }
    smooth_tables(tpos, tneg, V_size, L + 1, lambda_w);
  }

  // --- final stage
  int Mx = remaining[0];
  for (int r = 1; r < rounds; r++)
    if (remaining[r] > Mx) Mx = remaining[r];
  double* rem_neg = (double*)calloc(Mx + 1, sizeof(double));
  double* rem_pos = (double*)calloc(Mx + 1, sizeof(double));
  double* raw = (double*)calloc(L + 3, sizeof(double));
  double* pos_neg = (double*)calloc(N + 1, sizeof(double));
  double* pos_pos = (double*)calloc(N + 1, sizeof(double));

  for (int r = 0; r < rounds; r++) {
    char rem_name[64], rn_name[64];
    snprintf(rem_name, sizeof rem_name, "unlabelmatrix%d", r);
    snprintf(rn_name, sizeof rn_name, "truetrain1matrix%d", r);
    int Rk = remaining[r];
    int RN = U - Rk;
    prior_neg = (double)RN / (double)(RN + N);
    prior_pos = 1 - prior_neg;
    stat_prior[0] = prior_pos;

    for (int i = 0; i <= L + 1; i++) {
      tpos[i] = 0.0;
      tneg[i] = 0.0;
    }
    f = fopen(pos_name, "r");
    if (f == nullptr) die("can not read training set");
    while (read_line(f)) {
      parse_line("-1 ");
      add_counts(tpos, nullptr, 0);
    }
    fclose(f);
    for (int i = 0; i <= L + 1; i++) raw[i] = tpos[i];
    f = fopen(rn_name, "r");
    if (f == nullptr) die("can not read training set");
    while (read_line(f)) {
      parse_line("-1 ");
      add_counts(tneg, nullptr, 0);
    }
    fclose(f);
    smooth_tables(tpos, tneg, V_size, L + 1, lambda_w);

    int miss = positive_self_check(pos_name, N, pos_neg, pos_pos);
    stat_miss[0] = miss;
    stat_rate[0] = (double)miss / (double)N;

    test_pass(test_name, lg, 0);

    for (int t = 1; t <= T; t++) {
      for (int i = 0; i <= L + 1; i++) {
        wneg[i] = 0.0;
        wpos[i] = 0.0;
      }
      f = fopen(rem_name, "r");
      if (f == nullptr) die("can not read matrix file");
      for (int j = 0; j < Rk; j++) {
        read_counted_line(f);
        parse_line("-1 ");
        score_document(tpos, tneg, vmask, prior_neg, prior_pos, &rem_neg[j], &rem_pos[j]);
        gather(wneg, wpos, rem_neg[j], rem_pos[j]);
      }
      fclose(f);
      f = fopen(rn_name, "r");
      if (f == nullptr) die("can not read training set");
      for (int j = 0; j < RN; j++) {
        read_counted_line(f);
        parse_line("-1 ");
        score_document(tpos, tneg, vmask, prior_neg, prior_pos, &un_neg[j], &un_pos[j]);
        gather(wneg, wpos, un_neg[j], un_pos[j]);
      }
      fclose(f);

      double Sneg = 0.0, Spos = 0.0;
      for (int j = 0; j < Rk; j++) Sneg += rem_neg[j];
      for (int j = 0; j < RN; j++) Sneg += un_neg[j];
      for (int j = 0; j < Rk; j++) Spos += rem_pos[j];
      for (int j = 0; j < RN; j++) Spos += un_pos[j];
      prior_neg = Sneg / (double)(N + U);
      prior_pos = (Spos + (double)N) / (double)(N + U);
      stat_prior[t] = prior_pos;

      for (int i = 0; i <= L + 1; i++) wpos[i] += raw[i];
      for (int i = 0; i <= L + 1; i++) {
        tneg[i] = wneg[i];
        tpos[i] = wpos[i];
      }
      smooth_tables(tpos, tneg, V_size, L + 1, lambda_w);

      miss = positive_self_check(pos_name, N, pos_neg, pos_pos);
      stat_miss[t] = miss;
      stat_rate[t] = (double)miss / (double)N;

      test_pass(test_name, lg, t);
    }

    // end-of-round selection: first classifier whose change of prior and
    // miss rate is positive
    for (int i = 0; i < T; i++) {
      double *P = stat_prior, *M = stat_rate;
      double delta = 2 * (M[i + 1] * P[i] - M[i] * P[i]) + (P[i + 1] - P[i]);
      if (delta > 0) {
        selected = i;
        break;
      }
    }
    for (int i = 0; i < nstat; i++) {
      stat_prior[i] = 0.0;
      stat_miss[i] = 0;
      stat_rate[i] = 0.0;
    }
  }

  // --- final result, read back from the run log
  fclose(lg);
  lg = fopen(log_name, "r");
  if (lg == nullptr) die("can not write set");
  FILE* out = fopen(out_name, "w");
  if (out == nullptr) die("can not write prob_result.txt");
  bool more = true;
  auto next_line = [&]() {
    if (!read_line(lg)) {
      more = false;
      line_buf[0] = '\0';
    }
  };
  if (selected > 0) {
    int seen = 0;
    while (seen < selected) {
      next_line();
      if (!more) break;
      if (is_separator(line_buf)) seen++;
    }
    if (more) {
      do {
        next_line();
      } while (more && line_buf[0] != '\n');
    }
  }
  next_line();
  while (more && !is_separator(line_buf)) {
    fprintf(out, "%s", line_buf);
    next_line();
  }
  fclose(out);
  next_line();  // header line of the selected section
  printf("\n************<  The Final Result > *************\n");
  while (more && line_buf[0] != '\n') {
    printf("%s", line_buf);
    next_line();
  }
  fclose(lg);
  return 0;
}

// ---------------------------------------------------------------------------
// Command line.

// Appends stem + ext to a name; names that would not fit are refused.
static void append_name(char* name, const char* stem, const char* ext) {
  if (strlen(name) + strlen(stem) + strlen(ext) > NAME_SIZE - 1) usage_error();
  strcat(name, stem);
  strcat(name, ext);
}

int main(int argc, char** argv) {
  int mode = 0;
  double lambda = 0.0, spy_frac = 0.0, rt = 0.0;
  int iters = 0;
  static char stem[NAME_SIZE], pos_name[NAME_SIZE], unl_name[NAME_SIZE], test_name[NAME_SIZE],
      log_name[NAME_SIZE], out_name[NAME_SIZE];

  for (int a = 1; a < argc; a++) {
    const char* arg = argv[a];
    if (strncmp(arg, "-NB", 3) == 0) {
      mode = 1;
    } else if (strncmp(arg, "-nb", 3) == 0) {
      mode = 1;
    } else if (strncmp(arg, "-KOV", 4) == 0) {
      mode = 2;
    } else if (strncmp(arg, "-kov", 4) == 0) {
      mode = 2;
    } else if (strncmp(arg, "-f", 2) == 0 || strncmp(arg, "-F", 2) == 0) {
      if (a + 1 >= argc) usage_error();
      const char* x = argv[++a];
      if (strlen(x) > NAME_SIZE - 1) usage_error();
      strcpy(stem, x);
      append_name(pos_name, x, ".pos");
      append_name(unl_name, x, ".unlabel");
      append_name(test_name, x, ".test");
      append_name(log_name, x, ".log");
      append_name(out_name, x, ".output");
    } else if (strncmp(arg, "-l", 2) == 0) {
      if (a + 1 >= argc) usage_error();
      lambda = atof(argv[++a]);
    } else if (strncmp(arg, "-s", 2) == 0 || strncmp(arg, "-S", 2) == 0) {
      if (a + 1 >= argc) usage_error();
      spy_frac = atof(argv[++a]);
    } else if (strncmp(arg, "-e", 2) == 0) {
      if (a + 1 >= argc) usage_error();
      (void)atoi(argv[++a]);  // accepted and ignored
    } else if (strncmp(arg, "-i", 2) == 0) {
      if (a + 1 >= argc) usage_error();
      iters = atoi(argv[++a]);
    } else if (strncmp(arg, "-rt", 3) == 0) {
      if (a + 1 >= argc) usage_error();
      rt = atof(argv[++a]);
    }
    // anything else is skipped silently
  }

  if (lambda == 0.0) lambda = 0.1;
  if (spy_frac == 0.0) spy_frac = 0.15;
  if (rt == 0.0) rt = 0.1;
  if (pos_name[0] == ' ' || test_name[0] == ' ') usage_error();
  if (iters == 0) iters = 8;

  if (mode == 1) return naive_bayes_run(lambda, pos_name, unl_name, test_name, log_name, out_name);
  if (mode == 2)
    return pu_run(rt, lambda, spy_frac, 1, pos_name, unl_name, test_name, log_name, out_name,
                  iters);
  usage_error();
  return 0;
}

#!/usr/bin/env Rscript
# make_battery.R
#
# A seeded battery of random quantal dose-response data sets and their
# maximum-likelihood fits, computed independently of the C++ code with base R.
# Writes the data files to battery/ and the values to battery_values.txt next
# to this script (see README.md in this folder for the generator, the model,
# the fitting method and the file format).
#
# Run from anywhere:   Rscript tests/reference/make_battery.R

options(warn = 1)
GENERATOR <- "battery generator 1"
SEED_BASE <- 7100L            # data set k is drawn after set.seed(SEED_BASE + k)
N_RANDOM  <- 36L              # random data sets R01 .. R36
SEED_LARGE <- 7300L           # large data set k is drawn after set.seed(SEED_LARGE + k)
N_LARGE   <- 6L               # large data sets L01 .. L06, 8 to 20 preparations
SLOPE_CAP <- 1000             # slopes are searched in |b| <= SLOPE_CAP ...
SLOPE_LOW <- 100              # ... and refitted in |b| <= SLOPE_LOW to compare
ALPHA_CAP <- 200              # search bound on the centred intercept (z at the mean log dose)
ALPHA_CAP_ADDED <- 2000       # the same in the sets added to the first battery, where a
                              # steep common slope puts some curves far from their doses
EXTRA_MAX <- 1 - 1e-9         # C, D in [0, 1)
t_start <- proc.time()[["elapsed"]]

## ---------------------------------------------------------------------------
## Locations
## ---------------------------------------------------------------------------
script_path <- local({
  a <- commandArgs(trailingOnly = FALSE)
  f <- sub("^--file=", "", a[grep("^--file=", a)])
  if (length(f) == 1) normalizePath(f) else normalizePath("make_battery.R")
})
ref_dir  <- dirname(script_path)
bat_dir  <- file.path(ref_dir, "battery")
out_file <- file.path(ref_dir, "battery_values.txt")
dir.create(bat_dir, showWarnings = FALSE)

# formatC pads some values with blanks; the blanks are dropped, the digits kept
fmt <- function(x) trimws(formatC(x, digits = 15, format = "g"))
# doses are written with 6 significant digits in fixed notation
fmt_dose <- function(d) trimws(formatC(signif(d, 6), digits = 6, format = "fg"))

## ---------------------------------------------------------------------------
## Generator.  Each data set draws, after its own set.seed: the number of
## preparations, a tolerance distribution, the true C and D and the form in
## which they enter, the known C of model 7, and per preparation the slope,
## the dose series, the group sizes and an optional control group.
## ---------------------------------------------------------------------------
Fdist <- list(pnorm, plogis, function(z) -expm1(-exp(z)))
# data sets that must hold one steep and one shallow preparation
CONTRAST_SETS <- c(4L, 13L, 22L, 31L)
# preparations of the large sets: 8 to 20, so that the separate-slopes fits
# with C and D have 18 to 42 parameters and every model with a rate exceeds
# 24 parameters from 12 preparations on (common slope: 23 with C and D at 20)
LARGE_PREPS <- c(20L, 8L, 12L, 16L, 10L, 18L)

gen_prep <- function(kind, shared, large = FALSE) {
  b <- switch(kind, usual = runif(1, 1, 8), steep = runif(1, 20, 80),
              shallow = runif(1, 0.3, 1))
  if (!is.null(shared)) {
    ng <- shared$ng; x0 <- shared$x0; step <- shared$step
  } else {
    ng <- sample(4:10, 1); x0 <- runif(1, -2, 3); step <- log10(runif(1, 1.5, 5))
  }
  # a steep curve would leave fewer than about three groups on its rise:
  # the dose ratio is then reduced to 10^(U(0.8, 2) / b); in the large sets
  # to 10^(U(0.4, 1) / b), about four to eight groups on the rise, since one
  # preparation whose curve becomes a step leaves the whole fit without a
  # maximum
  step <- min(step, (if (large) runif(1, 0.4, 1) else runif(1, 0.8, 2)) / b)
  x <- x0 + step * (0:(ng - 1))
  # true log ED50 inside the dose range, now and then a little outside it
  u <- if (runif(1) < 0.1) runif(1, -0.15, 1.15) else runif(1, 0.15, 0.85)
  m <- x[1] + u * (x[ng] - x[1])
  n <- if (runif(1) < 0.5) rep(sample(10:100, 1), ng) else sample(10:100, ng, TRUE)
  ctl <- runif(1) < 1 / 3
  list(b = b, m = m, dose = signif(10^x, 6), n = n, ctl = ctl,
       nctl = if (ctl) sample(10:100, 1) else 0, kind = kind)
}

# A data set of the battery.  The random sets R01..R36 hold 1 to 3
# preparations; the large sets L01..L06 (large = TRUE) 8 to 20, drawn after
# their own seeds with the same draws for everything else.
gen_set <- function(k, large = FALSE) {
  set.seed((if (large) SEED_LARGE else SEED_BASE) + k)
  P <- if (large) LARGE_PREPS[k] else sample(1:3, 1, prob = c(0.3, 0.4, 0.3))
  if (!large && k %in% CONTRAST_SETS && P == 1) P <- 2L
  dist <- sample(1:3, 1)
  form <- sample(c("aon", "pref"), 1)
  Ct <- if (runif(1) < 0.55) 0 else runif(1, 0, 0.3)
  Dt <- if (runif(1) < 0.6) 0 else runif(1, 0, 0.3)
  fixed_c <- sample(c(0.2, 0.3, 0.5), 1)
  kinds <- sample(c("usual", "steep", "shallow"), P, TRUE, prob = c(0.7, 0.15, 0.15))
  if (!large && k %in% CONTRAST_SETS) kinds[1:2] <- c("steep", "shallow")
  shared <- if (runif(1) < 0.5)
    list(ng = sample(4:10, 1), x0 = runif(1, -2, 3), step = log10(runif(1, 1.5, 5)))
  name <- sprintf(if (large) "L%02d" else "R%02d", k)
  preps <- vector("list", P)
  for (i in 1:P) {
    p <- gen_prep(kinds[i], shared, large)
    P0 <- Fdist[[dist]](p$b * (log10(p$dose) - p$m))
    Pt <- if (form == "aon") Ct + (1 - Ct - Dt) * P0 else Ct + (1 - Ct) * (1 - Dt) * P0
    r <- rbinom(length(Pt), p$n, Pt)
    dose <- fmt_dose(p$dose); n <- p$n
    if (p$ctl) {
      dose <- c("0", dose); n <- c(p$nctl, n); r <- c(rbinom(1, p$nctl, Ct), r)
    }
    preps[[i]] <- list(file = sprintf("%sP%d.TXT", name, i), dose = dose, n = n, r = r,
                       truth = sprintf("%s b %.3g logED50 %.3g", p$kind, p$b, p$m))
  }
  list(name = name, preps = preps, fixed_c = fixed_c,
       truth = sprintf("seed %d, %s, true C %.3g D %.3g (%s)",
                       (if (large) SEED_LARGE else SEED_BASE) + k,
                       c("normal", "logistic", "cloglog")[dist], Ct, Dt,
                       if (form == "aon") "C + (1-C-D) P0" else "C + (1-C)(1-D) P0"))
}

# The reproducers: (dose, n, r) as given, in this order.
x_prep <- function(file, txt) {
  v <- matrix(scan(text = txt, what = "", quiet = TRUE), ncol = 3, byrow = TRUE)
  list(file = file, dose = v[, 1], n = as.integer(v[, 2]), r = as.integer(v[, 3]),
       truth = "given")
}
x_sets <- list(
  list(name = "X1", fixed_c = 0.3, truth = "reproducer (logistic, model 7, known C 0.3)",
       preps = list(x_prep("X1.TXT", "249.320 28 22  83.106 21 9  0.000 25 0  9.234 84 1
         3.078 77 4  0.342 17 0  27.702 64 9  1.026 30 0"))),
  list(name = "X2", fixed_c = 0.2, truth = "reproducer (normal, model 1)",
       preps = list(x_prep("X2P1.TXT", "26.7 35 1  133.5 36 0  667.5 71 1  3337.5 50 45
         16688 47 47  83438 64 64  417190 24 24  2085900 18 18  10430000 29 29"),
                    x_prep("X2P2.TXT", "3.35 66 2  5.025 68 17  7.5375 52 31  11.306 87 77"))),
  list(name = "X3", fixed_c = 0.2, truth = "reproducer (cloglog, model 2)",
       preps = list(x_prep("X3.TXT", "12.2 63 2  24.4 75 3  48.8 43 7  97.6 13 4  195.2 96 47"))),
  list(name = "X4", fixed_c = 0.5, truth = "reproducer (normal, model 2)",
       preps = list(x_prep("X4.TXT", "0 40 20  1 40 24  2 40 28  4 40 33  8 40 37  16 40 39"))),
  # Constructed: two preparations with 100 subjects a group (the expected
  # counts of a probit line with slope 4 and C = 0.1, ED50 6 and 12) fix
  # the slope and C; the third has a few subjects at doses a decade apart.
  # Under a common slope with C its curve settles either near dose 100 or,
  # with a steeper slope and a larger C, between doses 100 and 1000: two
  # maxima (checked below).
  list(name = "X5", fixed_c = 0.2, truth = "constructed (normal, model 2, common slope: two maxima)",
       preps = list(x_prep("X5P1.TXT", "0 100 10  1 100 10  2 100 13  4 100 32  8 100 72
                            16 100 96  32 100 100"),
                    x_prep("X5P2.TXT", "1 100 10  2 100 10  4 100 13  8 100 32  16 100 72
                            32 100 96"),
                    x_prep("X5P3.TXT", "1 5 3  10 14 9  100 11 9  1000 7 5")))
)

sets <- c(lapply(seq_len(N_RANDOM), gen_set), x_sets,
          lapply(seq_len(N_LARGE), gen_set, large = TRUE))
# the sets added to the first battery get the structured starts in every fit
FIRST_BATTERY <- c(sprintf("R%02d", seq_len(N_RANDOM)), "X1", "X2", "X3", "X4")
for (i in seq_along(sets)) sets[[i]]$added <- !(sets[[i]]$name %in% FIRST_BATTERY)

# Write the files, then read them back: the fits use the doses as written.
unlink(list.files(bat_dir, pattern = "\\.TXT$", full.names = TRUE))
for (s in sets) for (p in s$preps) {
  stopifnot(nchar(sub("\\.TXT$", "", p$file)) <= 29, all(p$r >= 0), all(p$r <= p$n))
  writeLines(sprintf("%s %d %d", p$dose, p$n, p$r), file.path(bat_dir, p$file))
}
read_prep <- function(file) {
  v <- read.table(file.path(bat_dir, file), col.names = c("dose", "n", "r"))
  ctl <- v$dose == 0
  data.frame(x = ifelse(ctl, NA, log10(v$dose)), n = v$n, r = v$r, ctl = ctl)
}
for (i in seq_along(sets))
  sets[[i]]$data <- lapply(sets[[i]]$preps, function(p) read_prep(p$file))

## ---------------------------------------------------------------------------
## Tolerance distributions in log space: ln F(z), ln(1 - F(z)), ln f(z).
## ---------------------------------------------------------------------------
# ln(1 - exp(-exp(z))) without cancellation or underflow
log_cll <- function(z) {
  u <- exp(z); out <- z
  big <- u > log(2)
  out[big] <- log1p(-exp(-u[big]))
  mid <- !big & u > 1e-200                  # z + ln((1 - e^-u) / u)
  out[mid] <- z[mid] + log(-expm1(-u[mid]) / u[mid])
  out                                        # tiny u: ln(1 - e^-u) = z to rounding
}
ldist <- list(
  function(z) list(lP = pnorm(z, log.p = TRUE),
                   lQ = pnorm(z, lower.tail = FALSE, log.p = TRUE),
                   lf = dnorm(z, log = TRUE)),
  function(z) list(lP = plogis(z, log.p = TRUE),
                   lQ = plogis(z, lower.tail = FALSE, log.p = TRUE),
                   lf = dlogis(z, log = TRUE)),
  function(z) { u <- exp(z); list(lP = log_cll(z), lQ = -u, lf = z - u) }
)
link_name <- c("probit", "logit", "cloglog")
# ln(e^u + e^v) for a number u and a vector v
# (written out: pmax is slow, and this is the innermost loop)
lse <- function(u, v) {
  if (u == -Inf) return(v)
  d <- v - u
  out <- u + log1p(exp(d))
  big <- which(d > 0)
  out[big] <- v[big] + log1p(exp(-d[big]))
  out
}

## ---------------------------------------------------------------------------
## A fit.  Internally every model is written in the preference form
##   P = C + (1-C)(1-D') P0,   1 - P = (1-C)(D' + (1-D') (1 - P0))
## with C and D' in [0, 1): models 2 (D' = 0), 3 (C = 0) and 7 (C known) are
## sections of it, and model 4 is the same family with D = D'(1-C), which is
## how C + D <= 1 is kept.  The linear predictor is centred and scaled:
## z = alpha_i + beta_s t, t = (x - xbar_i) / sc_s, so a_i = alpha_i -
## beta_s xbar_i / sc_s and b_s = beta_s / sc_s.  A control group (dose 0) has
## P0 = 0 exactly.
## Full internal vector: alpha_1..P, beta_1..S, C, D'.
## ---------------------------------------------------------------------------
# the models of the first battery, fitted first and in this order (so their
# starts and results do not depend on the models added later), then 5 and 6
model_list <- c(1L, 2L, 3L, 4L, 7L, 8L)
model_list_new <- c(5L, 6L)

setup_fit <- function(preps, S, model, dist, fixed_c) {
  P <- length(preps)
  st <- do.call(rbind, preps)
  g <- rep(seq_len(P), sapply(preps, nrow))
  si <- if (S == 1) rep(1L, length(g)) else g
  ctl <- st$ctl
  xbar <- as.vector(tapply(st$x, g, mean, na.rm = TRUE))
  dev <- st$x - xbar[g]
  sc <- sapply(1:S, function(s) sqrt(mean(dev[si == s & !ctl]^2)))
  t <- ifelse(ctl, 0, dev / sc[si])
  xo <- ifelse(ctl, 0, st$x)
  ng <- length(g)
  Ga <- outer(g, 1:P, "==") * 1
  Gt <- outer(si, 1:S, "==") * t
  Gx <- outer(si, 1:S, "==") * xo
  freeC <- model %in% c(2L, 4L, 6L, 8L); freeD <- model %in% c(3L, 4L, 7L, 8L)
  k <- P + S
  free <- c(seq_len(k), if (freeC) k + 1, if (freeD) k + 2)
  base <- c(rep(0, k), if (model %in% c(5L, 7L)) fixed_c else 0, 0)
  list(P = P, S = S, k = k, model = model, dist = dist, fixed_c = fixed_c,
       g = g, si = si, ctl = ctl, x = st$x, t = t, n = st$n, r = st$r,
       nr = st$n - st$r, rp = which(st$r > 0), qp = which(st$n > st$r),
       xbar = xbar, sc = sc, Ga = Ga, Gt = Gt, Gx = Gx, ld = ldist[[dist]],
       free = free, freeC = freeC, freeD = freeD, base = base, data = preps,
       alpha_cap = ALPHA_CAP,
       npar = k + freeC + freeD,
       names = c(paste0("a", 1:P), if (S == 1) "b" else paste0("b", 1:P),
                 if (model %in% c(2L, 4L, 6L, 8L)) "C", if (model %in% c(3L, 4L, 7L, 8L)) "D"))
}

# everything at a full internal vector
core <- function(th, sp) {
  P <- sp$P; k <- sp$k
  C <- max(th[k + 1], 0); Dp <- max(th[k + 2], 0)   # L-BFGS-B may step to -1e-17
  z <- th[sp$g] + th[P + sp$si] * sp$t
  d <- sp$ld(z)
  lP0 <- d$lP; lQ0 <- d$lQ; lf <- d$lf
  lP0[sp$ctl] <- -Inf; lQ0[sp$ctl] <- 0; lf[sp$ctl] <- -Inf
  lw0 <- log1p(-C) + log1p(-Dp)
  lnP <- lse(log(C), lw0 + lP0)
  lnQ <- lse(log1p(-C) + log(Dp), lw0 + lQ0)
  list(C = C, Dp = Dp, lP0 = lP0, lQ0 = lQ0, lf = lf, lw0 = lw0, lnP = lnP, lnQ = lnQ)
}
ll_core <- function(e, sp)
  sum(sp$r[sp$rp] * e$lnP[sp$rp]) + sum(sp$nr[sp$qp] * e$lnQ[sp$qp])
loglik <- function(th, sp) ll_core(core(th, sp), sp)

# derivative of the log-likelihood with respect to z (per group), C and D'
grad_pieces <- function(e, sp) {
  rp <- sp$rp; qp <- sp$qp
  hz <- numeric(length(e$lnP))
  hz[rp] <- sp$r[rp] * exp(e$lw0 + e$lf[rp] - e$lnP[rp])
  hz[qp] <- hz[qp] - sp$nr[qp] * exp(e$lw0 + e$lf[qp] - e$lnQ[qp])
  # dP/dC = D' + (1-D')(1-P0) and (dP/dC) / (1-P) = 1/(1-C)
  ldC <- lse(log(e$Dp), log1p(-e$Dp) + e$lQ0)
  gC <- sum(sp$r[rp] * exp(ldC[rp] - e$lnP[rp])) - sum(sp$nr) / (1 - e$C)
  # dP/dD' = -(1-C) P0
  gD <- -(1 - e$C) * (sum(sp$r[rp] * exp(e$lP0[rp] - e$lnP[rp])) -
                      sum(sp$nr[qp] * exp(e$lP0[qp] - e$lnQ[qp])))
  list(hz = hz, gC = gC, gD = gD)
}
# gradient with respect to the full internal vector
grad_int <- function(th, sp) {
  h <- grad_pieces(core(th, sp), sp)
  c(crossprod(sp$Ga, h$hz), crossprod(sp$Gt, h$hz), h$gC, h$gD)
}

# internal <-> the model's own parameters (a, b, C, D)
to_orig <- function(th, sp) {
  P <- sp$P; S <- sp$S
  beta <- th[P + 1:S]
  b <- beta / sp$sc
  a <- th[1:P] - b[if (S == 1) rep(1, P) else 1:P] * sp$xbar
  C <- th[sp$k + 1]; Dp <- th[sp$k + 2]
  D <- if (sp$model == 4L) Dp * (1 - C) else Dp
  list(a = a, b = b, C = C, D = D, Dp = Dp)
}
from_orig <- function(o, sp) {
  P <- sp$P; S <- sp$S
  b <- o$b
  if (length(b) != S) b <- if (S == 1) mean(b) else rep(b, length.out = P)
  a <- o$a
  if (S == 1 && length(o$b) == P) a <- o$a + (o$b - b) * sp$xbar   # keep z at xbar
  beta <- b * sp$sc
  alpha <- a + b[if (S == 1) rep(1, P) else 1:P] * sp$xbar
  C <- if (sp$freeC) min(max(o$C, 0), 0.95) else sp$base[sp$k + 1]
  Dp <- if (sp$freeD) min(max(o$Dp, 0), 0.95) else 0
  c(alpha, beta, C, Dp)
}

# gradient in the model's own parameters, the projected gradient (an extra
# at 0 counts only if the gradient points inwards) and its largest entry
grad_orig <- function(th, sp) {
  e <- core(th, sp); h <- grad_pieces(e, sp)
  ga <- as.vector(crossprod(sp$Ga, h$hz)); gb <- as.vector(crossprod(sp$Gx, h$hz))
  C <- e$C; Dp <- e$Dp
  gx <- numeric(0); vx <- numeric(0)
  if (sp$model %in% c(2L, 6L, 8L)) { gx <- c(gx, h$gC); vx <- c(vx, C) }
  if (sp$model == 4L) {            # D = D'(1-C)
    D <- Dp * (1 - C)
    gx <- c(h$gC + h$gD * D / (1 - C)^2, h$gD / (1 - C)); vx <- c(C, D)
  }
  if (sp$model %in% c(3L, 7L, 8L)) { gx <- c(gx, h$gD); vx <- c(vx, Dp) }
  proj <- c(ga, gb, ifelse(vx <= 0, pmax(gx, 0), gx))
  list(g = c(ga, gb, gx), proj = proj, maxproj = max(abs(proj)))
}

## ---------------------------------------------------------------------------
## Starting values.  For given C and D' the observed proportions are turned
## into P0 = (p - C) / ((1-C)(1-D')), clipped to [0.02, 0.98], and F^-1(P0) is
## regressed on t (weighted least squares, controls left out).
## ---------------------------------------------------------------------------
Finv <- list(qnorm, qlogis, function(p) log(-log1p(-p)))
ls_start <- function(sp, C, Dp) {
  keep <- !sp$ctl
  p <- (sp$r + 0.5) / (sp$n + 1)
  P0 <- pmin(pmax((p - C) / ((1 - C) * (1 - Dp)), 0.02), 0.98)
  y <- Finv[[sp$dist]](P0)
  X <- cbind(sp$Ga, sp$Gt)[keep, , drop = FALSE]
  w <- sqrt(sp$n[keep])
  cf <- qr.coef(qr(X * w), y[keep] * w)
  cf[is.na(cf)] <- 0
  c(cf, C, Dp)
}

make_starts <- function(sp, prior) {
  grid <- c(0, 0.05, 0.15, 0.3)
  Cs <- if (sp$freeC) grid else sp$base[sp$k + 1]
  Ds <- if (sp$freeD) grid else 0
  starts <- list()
  for (C in Cs) for (D in Ds) {
    Dp <- if (sp$model == 4L) D / (1 - C) else D    # model 4's grid is in (C, D)
    if (Dp >= 1) next
    starts[[length(starts) + 1]] <- ls_start(sp, C, Dp)
  }
  # random perturbations of the least-squares start, some of them steep
  s0 <- starts[[1]]; idx <- sp$P + 1:sp$S
  for (i in 1:4) {
    s <- s0
    s[1:sp$P] <- s[1:sp$P] + rnorm(sp$P, 0, 0.7)
    s[idx] <- s[idx] * exp(rnorm(sp$S, 0, 0.8)) * (if (i == 4) 8 else 1)
    if (sp$freeC) s[sp$k + 1] <- runif(1, 0, 0.4)
    if (sp$freeD) s[sp$k + 2] <- runif(1, 0, 0.4)
    starts[[length(starts) + 1]] <- s
  }
  for (o in prior) starts[[length(starts) + 1]] <- from_orig(o, sp)
  starts
}

## ---------------------------------------------------------------------------
## Maximisation
## ---------------------------------------------------------------------------
BIG <- 1e300
objective <- function(sp) {
  base <- sp$base; free <- sp$free
  last_v <- NULL; last_e <- NULL          # optim asks for f, then gr at the same point
  at <- function(v) {
    if (!identical(v, last_v)) {
      th <- base; th[free] <- v
      last_v <<- v; last_e <<- core(th, sp)
    }
    last_e
  }
  f <- function(v) {
    ll <- ll_core(at(v), sp)
    if (is.finite(ll)) -ll else BIG
  }
  gr <- function(v) {
    h <- grad_pieces(at(v), sp)
    g <- -c(crossprod(sp$Ga, h$hz), crossprod(sp$Gt, h$hz), h$gC, h$gD)[free]
    g[!is.finite(g)] <- 0
    g
  }
  list(f = f, gr = gr)
}
box <- function(sp, B) {
  k <- sp$k; nf <- length(sp$free)
  lo <- c(rep(-sp$alpha_cap, sp$P), -B * sp$sc, 0, 0)
  hi <- c(rep(sp$alpha_cap, sp$P), B * sp$sc, EXTRA_MAX, EXTRA_MAX)
  list(lo = lo[sp$free], hi = hi[sp$free])
}
clip <- function(v, bx) pmin(pmax(v, bx$lo), bx$hi)

lbfgsb <- function(v, ob, bx, factr = 1e5) {
  o <- try(optim(clip(v, bx), ob$f, ob$gr, method = "L-BFGS-B", lower = bx$lo,
                 upper = bx$hi, control = list(maxit = 3000, factr = factr, pgtol = 0)),
           silent = TRUE)
  if (inherits(o, "try-error")) list(par = clip(v, bx), value = ob$f(clip(v, bx)))
  else list(par = o$par, value = o$value)
}
nelder_mead <- function(v, ob, bx) {
  fpen <- function(u) if (any(u < bx$lo) || any(u > bx$hi)) BIG else ob$f(u)
  o <- optim(v, fpen, method = "Nelder-Mead",
             control = list(maxit = 4000, reltol = 1e-13))
  list(par = o$par, value = o$value)
}

# multi-start search in the box |b| <= B; the best few are refined by
# Nelder-Mead and quasi-Newton restarts
search <- function(sp, starts, B) {
  ob <- objective(sp); bx <- box(sp, B)
  res <- lapply(starts, function(s) lbfgsb(s[sp$free], ob, bx))
  val <- sapply(res, `[[`, "value")
  ord <- order(val)
  top <- list()
  for (i in ord) {                       # the three best distinct end points
    if (length(top) == 3) break
    p <- res[[i]]$par
    if (all(sapply(top, function(q) max(abs(q$par - p)) > 1e-4))) top[[length(top) + 1]] <- res[[i]]
  }
  for (i in seq_along(top)) {
    cur <- top[[i]]
    for (rep in 1:2) {
      nm <- nelder_mead(cur$par, ob, bx)
      if (nm$value < cur$value) cur <- nm
      q <- lbfgsb(cur$par, ob, bx, factr = 10)
      if (q$value <= cur$value) cur <- q
    }
    top[[i]] <- cur
  }
  best <- top[[which.min(sapply(top, `[[`, "value"))]]
  th <- sp$base; th[sp$free] <- best$par
  list(th = th, ll = -best$value)
}

## ---------------------------------------------------------------------------
## Per-preparation searches.  With the rates (and, under a common slope, the
## slope) held, the log-likelihood is a sum of one term per preparation, each
## depending on that preparation's line alone: its best line is found on a
## grid of curve positions (and slopes) and refined, whatever the other
## preparations do.  This gives starts that no search moving all
## preparations together has to find (structured starts), and a check of
## every maximum: no preparation's line may be improved on its own.
## ---------------------------------------------------------------------------
# log-likelihood of one preparation's groups d for candidate lines
# z = b (x - m), vectors m and b of one length, rates C and D' held
prep_ll <- function(m, b, d, C, Dp, dist) {
  ll <- numeric(length(m))
  lnPc <- log(C); lnQc <- log1p(-C)
  for (j in which(d$ctl)) {                  # a control has P = C whatever the line
    if (d$r[j] > 0) ll <- ll + d$r[j] * lnPc
    if (d$n[j] > d$r[j]) ll <- ll + (d$n[j] - d$r[j]) * lnQc
  }
  keep <- !d$ctl
  x <- d$x[keep]; r <- d$r[keep]; nr <- d$n[keep] - r
  z <- b * outer(-m, x, "+")
  v <- ldist[[dist]](z)
  lw0 <- log1p(-C) + log1p(-Dp)
  lnP <- lse(lnPc, lw0 + v$lP)
  lnQ <- lse(lnQc + log(Dp), lw0 + v$lQ)
  lnP <- matrix(lnP, nrow = length(m)); lnQ <- matrix(lnQ, nrow = length(m))
  lnP[, r == 0] <- 0; lnQ[, nr == 0] <- 0
  ll + as.vector(lnP %*% r + lnQ %*% nr)
}

# Curve positions tried for a preparation with slope b: a grid over its
# doses and beyond them, out to where the curve is flat over every dose,
# and each of its doses
position_grid <- function(x, b, n = PROFILE_POSITIONS) {
  reach <- min(4 / abs(b), 3) + 0.25
  c(seq(min(x) - reach, max(x) + reach, length.out = n), x)
}
PROFILE_POSITIONS <- 161L
# Slopes tried for a preparation's own line (separate slopes): log-spaced
# over the whole range of the battery's slopes, and a few falling lines
PROFILE_SLOPES <- c(10^seq(-1, 3, by = 0.25), -10^seq(-1, 1.5, by = 0.5))
# Slopes tried for a common line
COMMON_SLOPES <- c(10^seq(-1, 2.5, by = 0.25), -10^seq(-1, 1, by = 0.5))
# Rates tried on the profile grid
PROFILE_RATES <- c(0, 0.05, 0.15, 0.3, 0.5)

# The best line (m, b) of one preparation with the rates held: b held when
# given, else from the slope grid; refine = FALSE keeps the grid's best
best_line <- function(d, C, Dp, dist, b = NULL, refine = TRUE) {
  x <- d$x[!d$ctl]
  bs <- if (is.null(b)) PROFILE_SLOPES else b
  m <- unlist(lapply(bs, function(bb) position_grid(x, bb)))
  bb <- rep(bs, each = PROFILE_POSITIONS + length(x))
  ll <- prep_ll(m, bb, d, C, Dp, dist)
  ll[!is.finite(ll)] <- -Inf
  i <- which.max(ll)
  best <- list(m = m[i], b = bb[i], ll = ll[i])
  if (!refine || !is.finite(best$ll)) return(best)
  # refine the best few grid points that are not next to each other
  ord <- order(ll, decreasing = TRUE)
  tried <- integer(0)
  for (i in ord) {
    if (length(tried) == 3) break
    if (!is.finite(ll[i]) || any(abs(m[tried] - m[i]) < 0.05 & bb[tried] == bb[i])) next
    tried <- c(tried, i)
    if (is.null(b)) {
      f <- function(v) {
        if (abs(v[2]) > SLOPE_CAP) return(BIG)
        -prep_ll(v[1], v[2], d, C, Dp, dist)
      }
      o <- optim(c(m[i], bb[i]), f, method = "Nelder-Mead",
                 control = list(maxit = 2000, reltol = 1e-12))
      cand <- list(m = o$par[1], b = o$par[2], ll = -o$value)
    } else {
      step <- diff(range(x)) / PROFILE_POSITIONS + 0.01
      o <- optimize(function(v) prep_ll(v, b, d, C, Dp, dist), c(m[i] - step, m[i] + step),
                    maximum = TRUE, tol = 1e-10)
      cand <- list(m = o$maximum, b = b, ll = o$objective)
    }
    if (is.finite(cand$ll) && cand$ll > best$ll) best <- cand
  }
  best
}

# The full internal vector of the lines (m_i, b_i) of every preparation and
# the rates C, D'
lines_to_int <- function(m, b, C, Dp, sp) {
  bo <- if (sp$S == 1) b[1] else b
  from_orig(list(a = -bo[if (sp$S == 1) rep(1, sp$P) else 1:sp$P] * m, b = bo, C = C, Dp = Dp), sp)
}

# Starts from the profile of the log-likelihood over the rates (and the
# common slope): at every point of the grid each preparation's line is the
# best on its own; the best few grid points, their lines refined, are the
# starts
structured_starts <- function(sp, keep = 3) {
  Cs <- if (sp$freeC) PROFILE_RATES else sp$base[sp$k + 1]
  Ds <- if (sp$freeD) PROFILE_RATES else 0
  bs <- if (sp$S == 1) COMMON_SLOPES else NA
  grid <- expand.grid(C = Cs, Dp = Ds, b = bs)
  prof <- sapply(seq_len(nrow(grid)), function(j) {
    g <- grid[j, ]
    sum(sapply(sp$data, function(d)
      best_line(d, g$C, g$Dp, sp$dist, if (sp$S == 1) g$b else NULL, refine = FALSE)$ll))
  })
  starts <- list()
  for (j in order(prof, decreasing = TRUE)[seq_len(min(keep, nrow(grid)))]) {
    g <- grid[j, ]
    if (!is.finite(prof[j])) next
    fits <- lapply(sp$data, function(d)
      best_line(d, g$C, g$Dp, sp$dist, if (sp$S == 1) g$b else NULL))
    starts[[length(starts) + 1]] <- lines_to_int(sapply(fits, `[[`, "m"),
                                                 sapply(fits, `[[`, "b"), g$C, g$Dp, sp)
  }
  starts
}

# Moves of single preparations at a point of the search, the rates (and a
# common slope) held: every preparation to its best line on its own (one
# start), and each preparation alone to each other local maximum of its own
# profile (its curve settled between another pair of its doses, under a
# common slope; its best line elsewhere, under separate slopes) that is
# within PREP_MARGIN of its present term, since the slope and the rates may
# follow it there.  Returns the starts, the best first.
PREP_GAIN <- 1e-7                # a move that gains less than this is no gain
PREP_MARGIN <- 3                 # ^L a moved preparation may lose at first
PREP_MOVES <- 8                  # single moves tried per round, the best first
prep_moves <- function(th, sp) {
  o <- to_orig(th, sp)
  bs <- o$b[if (sp$S == 1) rep(1, sp$P) else 1:sp$P]
  m <- -o$a / bs
  m_all <- m; b_all <- bs; gain <- 0
  single <- list(); score <- numeric(0)
  for (i in seq_len(sp$P)) {
    d <- sp$data[[i]]
    now <- prep_ll(m[i], bs[i], d, o$C, o$Dp, sp$dist)
    if (!is.finite(now)) next
    best <- best_line(d, o$C, o$Dp, sp$dist, if (sp$S == 1) bs[i] else NULL)
    if (is.finite(best$ll) && best$ll > now + PREP_GAIN) {
      gain <- gain + best$ll - now; m_all[i] <- best$m; b_all[i] <- best$b
    }
    x <- d$x[!d$ctl]
    if (sp$S == 1) {
      mm <- position_grid(x, bs[i])[seq_len(PROFILE_POSITIONS)]
      ll <- prep_ll(mm, rep(bs[i], length(mm)), d, o$C, o$Dp, sp$dist)
      lm <- which(diff(sign(diff(ll))) < 0) + 1
      lm <- lm[abs(mm[lm] - m[i]) > 0.1 & ll[lm] >= now - PREP_MARGIN]
      for (j in lm) {
        mi <- m; mi[i] <- mm[j]
        single[[length(single) + 1]] <- lines_to_int(mi, bs, o$C, o$Dp, sp)
        score <- c(score, ll[j] - now)
      }
    } else {
      mm <- unlist(lapply(PROFILE_SLOPES, function(bb) position_grid(x, bb)))
      bb <- rep(PROFILE_SLOPES, each = PROFILE_POSITIONS + length(x))
      ll <- prep_ll(mm, bb, d, o$C, o$Dp, sp$dist)
      ll[abs(mm - m[i]) <= 0.1 | !is.finite(ll)] <- -Inf
      j <- which.max(ll)
      if (length(j) && ll[j] >= now - PREP_MARGIN) {
        mi <- m; mi[i] <- mm[j]; bi <- bs; bi[i] <- bb[j]
        single[[length(single) + 1]] <- lines_to_int(mi, bi, o$C, o$Dp, sp)
        score <- c(score, ll[j] - now)
      }
    }
  }
  starts <- single[order(score, decreasing = TRUE)][seq_len(min(PREP_MOVES, length(single)))]
  if (gain > 0) starts <- c(list(lines_to_int(m_all, b_all, o$C, o$Dp, sp)), starts)
  starts
}

# A local search from one start: quasi-Newton, then Newton steps
local_max <- function(start, sp) {
  o <- lbfgsb(start[sp$free], objective(sp), box(sp, SLOPE_CAP), factr = 10)
  th <- sp$base; th[sp$free] <- o$par
  # (a step that leaves the space ends the polish there)
  th1 <- tryCatch(suppressWarnings(polish(th, sp)), error = function(e) th)
  l1 <- loglik(th1, sp)
  if (is.finite(l1) && l1 >= -o$value - 1e-9) th1 else th
}

# Hessian of the log-likelihood over the free internal parameters by central
# differences of the analytic gradient
hessian_int <- function(th, sp, free) {
  nf <- length(free); H <- matrix(0, nf, nf)
  for (j in seq_len(nf)) {
    i <- free[j]
    h <- 1e-5 * max(1, abs(th[i]))
    tp <- th; tm <- th; tp[i] <- th[i] + h; tm[i] <- th[i] - h
    if (i > sp$k && tm[i] < 0) {             # C or D' next to 0: one-sided
      H[, j] <- (grad_int(tp, sp)[free] - grad_int(th, sp)[free]) / h
    } else H[, j] <- (grad_int(tp, sp)[free] - grad_int(tm, sp)[free]) / (2 * h)
  }
  (H + t(H)) / 2
}

# Newton steps on the free parameters; an extra at 0 whose gradient points
# outwards is held there, one that a step would take below 0 is put on 0
polish <- function(th, sp) {
  fixed <- integer(0)
  for (i in intersect(sp$free, sp$k + 1:2)) if (th[i] < 1e-7) {
    t0 <- th; t0[i] <- 0
    if (grad_int(t0, sp)[i] <= 0) { th <- t0; fixed <- c(fixed, i) }
  }
  for (it in 1:60) {
    free <- setdiff(sp$free, fixed)
    g <- grad_int(th, sp)[free]
    if (max(abs(g)) < 1e-11) break
    H <- hessian_int(th, sp, free)
    step <- tryCatch(-solve(H, g), error = function(e) NULL)
    if (is.null(step) || any(!is.finite(step))) break
    ll0 <- loglik(th, sp); lam <- 1; ok <- FALSE
    while (lam > 1e-6) {
      t1 <- th; t1[free] <- th[free] + lam * step
      ex <- intersect(free, sp$k + 1:2)
      if (any(t1[ex] < 0)) {                 # to the boundary
        i <- ex[which.min(t1[ex])]
        t1 <- th; t1[i] <- 0
        if (grad_int(t1, sp)[i] <= 0 && loglik(t1, sp) >= ll0 - 1e-9) {
          th <- t1; fixed <- c(fixed, i); ok <- TRUE; break
        }
        lam <- lam / 2; next
      }
      l1 <- loglik(t1, sp)
      if (is.finite(l1) && l1 >= ll0 - 1e-10 * max(1, abs(ll0))) { th <- t1; ok <- TRUE; break }
      lam <- lam / 2
    }
    if (!ok) break
  }
  th
}

# well-defined maximum: the free internal Hessian is negative definite and
# not nearly singular
curvature <- function(th, sp) {
  free <- sp$free[!(sp$free > sp$k & th[sp$free] <= 0)]
  ev <- eigen(-hessian_int(th, sp, free), symmetric = TRUE, only.values = TRUE)$values
  list(min = min(ev), max = max(ev), ratio = min(ev) / max(ev))
}

## ---------------------------------------------------------------------------
## Diagnostics of a maximum that is not (or barely) attained
## ---------------------------------------------------------------------------
# Why a maximum is not attained: the parameters along the flattest direction
# and the preparations whose fitted curve is 0 or 1 at every dose
describe <- function(th, sp) {
  e <- core(th, sp)
  P0 <- exp(e$lP0)
  out <- character(0)
  free <- sp$free[!(sp$free > sp$k & th[sp$free] <= 0)]
  H <- hessian_int(th, sp, free)
  if (all(is.finite(H))) {
    ev <- eigen(-H, symmetric = TRUE)
    v <- ev$vectors[, length(free)]
    nm <- c(paste0("a", 1:sp$P), if (sp$S == 1) "b" else paste0("b", 1:sp$P), "C", "D")[free]
    out <- sprintf("flattest direction %s", paste(nm[abs(v) > 0.3], collapse = ","))
  }
  for (i in 1:sp$P) {
    j <- which(sp$g == i & !sp$ctl)
    lo <- P0[j] < 1e-6; hi <- P0[j] > 1 - 1e-6
    d <- signif(10^sp$x[j], 6)
    if (sum(!(lo | hi)) == 1 && any(lo) && any(hi)) {
      out <- c(out, sprintf("preparation %d: P0 within 1e-6 of 0 or 1 at every dose but %s", i,
                            fmt(d[!(lo | hi)])))
      next
    }
    if (!all(lo | hi)) next
    out <- c(out, if (all(lo)) sprintf("preparation %d: P0 < 1e-6 at all its doses", i)
             else if (all(hi)) sprintf("preparation %d: P0 > 1 - 1e-6 at all its doses", i)
             else sprintf("preparation %d: a step between doses %s and %s", i,
                          fmt(max(d[lo])), fmt(min(d[hi]))))
  }
  paste(out, collapse = "; ")
}

## ---------------------------------------------------------------------------
## One fit with its checks.  Returns the estimates or the reason for leaving
## the fit out.
## ---------------------------------------------------------------------------
# The fits of the first battery (models 1, 2, 3, 4, 7, 8 of R01..R36 and
# X1..X4) start from make_starts alone, so that their values stay as they
# were; every other fit also starts from the per-preparation profile
# (structured = TRUE).  Every fit ends with the per-preparation check.
CONSISTENCY_PASSES <- 6         # rounds of the consistency refits at most
PREP_ROUNDS <- 5                 # rounds of moving preparations and searching again
fit_one <- function(sp, prior, seed, structured = FALSE) {
  set.seed(seed)
  if (sp$model %in% c(1L, 3L) && any(sp$ctl & sp$r > 0))
    return(list(excluded = "log-likelihood -Inf everywhere (a control group has responders, the model has no C)"))
  starts <- make_starts(sp, prior)
  if (structured) starts <- c(starts, structured_starts(sp))
  s1 <- search(sp, starts, SLOPE_CAP)
  o1 <- to_orig(s1$th, sp)
  info <- list(ll1000 = s1$ll)
  # compare with the search in |b| <= SLOPE_LOW
  if (any(abs(o1$b) > SLOPE_LOW * 0.999)) {
    th_c <- s1$th; bi <- sp$P + 1:sp$S
    th_c[bi] <- pmin(pmax(th_c[bi], -SLOPE_LOW * sp$sc), SLOPE_LOW * sp$sc)
    s2 <- search(sp, c(list(th_c), starts), SLOPE_LOW)
    info$ll100 <- s2$ll
  } else info$ll100 <- s1$ll
  if (any(abs(o1$b) > SLOPE_CAP * 0.999))
    return(c(info, list(excluded = sprintf(
      "maximum at infinite slope: sup ^L %s with |b| <= %g, %s with |b| <= %g (on the bound); %s",
      fmt(info$ll100), SLOPE_LOW, fmt(info$ll1000), SLOPE_CAP, describe(s1$th, sp)),
      th = s1$th)))
  th <- polish(s1$th, sp)
  ll <- loglik(th, sp)
  # (Newton steps are taken down to a relative 1e-10 of ^L, a few of them)
  if (ll < s1$ll - 1e-9 * max(1, abs(s1$ll))) stop("polish lost likelihood")
  # no preparation's line may be improved on its own: where one can, the
  # search starts again from the moved lines
  prep_gain <- 0; prep_settled <- FALSE
  for (round in seq_len(PREP_ROUNDS)) {
    best <- NULL; lbest <- ll
    for (st in prep_moves(th, sp)) {
      t1 <- local_max(st, sp); l1 <- loglik(t1, sp)
      if (is.finite(l1) && l1 > lbest + PREP_GAIN) { best <- t1; lbest <- l1 }
    }
    if (is.null(best)) { prep_settled <- TRUE; break }
    prep_gain <- prep_gain + lbest - ll
    th <- best; ll <- lbest
  }
  o <- to_orig(th, sp)
  go <- grad_orig(th, sp)
  cv <- curvature(th, sp)
  res <- c(info, list(th = th, ll = ll, o = o, maxproj = go$maxproj, curv = cv))
  if (prep_gain > 0) res$prep_gain <- prep_gain
  if (any(abs(o$b) > SLOPE_CAP) || !(cv$ratio > 1e-10)) {
    res$excluded <- sprintf(
      "maximum not attained, the likelihood still rises along a flat direction (curvature ratio %.1e, slopes %s, sup ^L %s); %s",
      cv$ratio, paste(sprintf("%.3g", o$b), collapse = ","), fmt(ll), describe(th, sp))
    return(res)
  }
  if (go$maxproj > 1e-8) {
    res$excluded <- sprintf("no convergence: projected gradient %.1e", go$maxproj)
    return(res)
  }
  if (!prep_settled) {
    res$excluded <- sprintf("no convergence: per-preparation moves still gain after %d rounds",
                            PREP_ROUNDS)
    return(res)
  }
  up <- scan_flat(th, sp, ll)
  if (up > 0)
    res$excluded <- sprintf("not a maximum: ^L rises by %.2e along the flattest direction; %s",
                            up, describe(th, sp))
  if (cv$ratio < 1e-5) res$flat <- describe(th, sp)
  res
}

# ^L along the flattest direction, out to 30 units of the internal
# parameters each way: it must not rise above the maximum
scan_flat <- function(th, sp, ll) {
  free <- sp$free[!(sp$free > sp$k & th[sp$free] <= 0)]
  ev <- eigen(-hessian_int(th, sp, free), symmetric = TRUE)
  v <- ev$vectors[, length(free)]
  up <- 0
  for (st in c(-30, -10, -3, -1, -0.1, -0.01, 0.01, 0.1, 1, 3, 10, 30)) {
    t1 <- th; t1[free] <- th[free] + st * v
    ex <- free[free > sp$k]
    if (any(t1[ex] < 0 | t1[ex] >= 1)) next
    l1 <- loglik(t1, sp)
    if (is.finite(l1)) up <- max(up, l1 - ll - 1e-10 * max(1, abs(ll)))
  }
  up
}

## ---------------------------------------------------------------------------
## Self-checks
## ---------------------------------------------------------------------------
# the log-space kernel against the direct formula where nothing underflows
naive_loglik <- function(th, sp) {
  o <- to_orig(th, sp)
  z <- o$a[sp$g] + o$b[sp$si] * ifelse(sp$ctl, 0, sp$x)
  P0 <- ifelse(sp$ctl, 0, Fdist[[sp$dist]](z))
  Pr <- o$C + (1 - o$C) * (1 - o$Dp) * P0
  sum(ifelse(sp$r > 0, sp$r * log(Pr), 0) + ifelse(sp$nr > 0, sp$nr * log(1 - Pr), 0))
}
# the analytic gradient against central differences of the log-likelihood,
# at a point moved away from the maximum (where the gradient would be 0)
check_gradient <- function(th, sp, what) {
  P <- sp$P; k <- sp$k
  th[1:P] <- th[1:P] + 0.3
  th[P + 1:sp$S] <- th[P + 1:sp$S] * 1.1
  if (sp$freeC) th[k + 1] <- th[k + 1] * 0.9 + 0.02
  if (sp$freeD) th[k + 2] <- th[k + 2] * 0.9 + 0.02
  g <- grad_int(th, sp)
  for (i in sp$free) {
    h <- 1e-6 * max(1, abs(th[i]))
    if (i > sp$k) h <- min(h, th[i] / 2, (1 - th[i]) / 2)
    if (h <= 0) next
    tp <- th; tm <- th; tp[i] <- th[i] + h; tm[i] <- th[i] - h
    num <- (loglik(tp, sp) - loglik(tm, sp)) / (2 * h)
    # (a gradient beyond 1e6, a steep curve moved off its maximum, loses
    # digits of its central difference to the third derivative)
    tol <- (if (abs(g[i]) > 1e6) 1e-4 else 1e-5) * max(1, abs(g[i]), abs(loglik(th, sp)) * 1e-3)
    if (abs(num - g[i]) > tol)
      stop(sprintf("gradient check failed (%s, parameter %d): %g vs %g", what, i, g[i], num))
  }
}
# model 1 against glm (controls without responders add nothing to the kernel
# and are left out); IRLS can stall on hard fits, it is then restarted from
# our estimates
glm_check <- function(sp, o, what) {
  keep <- !sp$ctl
  prepf <- factor(sp$g[keep]); x <- sp$x[keep]
  y <- cbind(sp$r[keep], sp$nr[keep])
  fam <- binomial(link = link_name[sp$dist])
  ctl <- glm.control(epsilon = 1e-14, maxit = 500)
  mine <- c(o$a, o$b)                     # glm's order: a1..aP, then the slope(s)
  run <- function(start) suppressWarnings(
    if (sp$P == 1) glm(y ~ x, family = fam, control = ctl, start = start)
    else if (sp$S == 1) glm(y ~ 0 + prepf + x, family = fam, control = ctl, start = start)
    else glm(y ~ 0 + prepf + prepf:x, family = fam, control = ctl, start = start))
  fit <- run(NULL)
  restarted <- !fit$converged
  if (restarted) fit <- run(mine)
  cf <- unname(coef(fit))
  ll_glm <- loglik(from_orig(list(a = cf[1:sp$P], b = cf[sp$P + 1:sp$S], C = 0, Dp = 0), sp), sp)
  d <- max(abs(cf - mine) / pmax(1, abs(mine)))
  if (!fit$converged || d > 1e-6 || ll_glm > loglik(from_orig(o, sp), sp) + 1e-9)
    stop(sprintf("glm cross-check failed for %s: rel. diff %.1e", what, d))
  restarted
}

# the building blocks: log-space distribution functions against direct
# evaluation where that is exact enough, and at the far tails
check_blocks <- function() {
  z <- seq(-30, 3, by = 0.25)
  if (max(abs(log_cll(z) - log(-expm1(-exp(z))))) > 1e-13 * 30)
    stop("log_cll differs from the direct formula")
  if (log_cll(-800) != -800 || abs(log_cll(-50) - (-50 - exp(-50) / 2)) > 1e-14 ||
      abs(log_cll(5) - log1p(-exp(-exp(5)))) > 1e-300)
    stop("log_cll tails")
  zz <- seq(-6, 6, by = 0.5)
  for (d in 1:3) {
    v <- ldist[[d]](zz)
    if (max(abs(exp(v$lP) + exp(v$lQ) - 1)) > 1e-15 * 4) stop("ln F and ln(1-F) disagree, dist ", d)
    num <- (Fdist[[d]](zz + 1e-6) - Fdist[[d]](zz - 1e-6)) / 2e-6
    if (max(abs(exp(v$lf) - num)) > 1e-8) stop("ln f is not the derivative of F, dist ", d)
  }
  if (abs(lse(log(0.3), log(0.2)) - log(0.5)) > 1e-15 || lse(-Inf, -3) != -3 ||
      lse(-2, -Inf) != -2 || abs(lse(-800, -801) - (-800 + log1p(exp(-1)))) > 1e-12)
    stop("lse")
}
check_blocks()

## ---------------------------------------------------------------------------
## All fits of one data set
## ---------------------------------------------------------------------------
fit_set <- function(si) {
  s <- sets[[si]]
  P <- length(s$data)
  out <- list()
  for (dist in 1:3) {
    done <- list()                       # solutions of this set and distribution
    # fits one model; the structured starts for every fit but those of the
    # first battery
    fit_model <- function(S, model, prior_of = done, seed = NULL, from = NULL) {
      fit <- if (S == 1) "common" else "sep"
      case <- sprintf("%s.d%d.m%d.%s", s$name, dist, model, fit)
      sp <- setup_fit(s$data, S, model, dist, s$fixed_c)
      if (s$added) sp$alpha_cap <- ALPHA_CAP_ADDED
      if (is.null(seed)) seed <- 100000L + 1000L * si + 100L * dist + 10L * model + S
      prior <- if (!is.null(from)) list(from)
               else lapply(Filter(function(d) is.null(d$excluded), prior_of), `[[`, "o")
      structured <- s$added || !(model %in% model_list)
      r <- fit_one(sp, prior, seed, structured)
      r$case <- case; r$sp <- sp; r$dist <- dist; r$model <- model; r$S <- S
      r
    }
    cs <- function(m, f) sprintf("%s.d%d.m%d.%s", s$name, dist, m, f)
    # models 4 and 8 (and 2 and 6) have the same likelihood; nested models
    # must not be above the larger ones; the separate fit must not be below
    # the common one.  A fit that falls short is refitted from the better
    # solution, until no fit falls short (a refit can raise a fit that an
    # earlier one was compared with).
    consistency <- function(models, pairs) for (pass in 1:CONSISTENCY_PASSES) {
      changed <- FALSE
      for (S in unique(c(1L, P))) {
        fit <- if (S == 1) "common" else "sep"
        for (pr in pairs) {
          lo <- done[[cs(pr[1], fit)]]; hi <- done[[cs(pr[2], fit)]]
          if (is.null(lo$ll) || is.null(hi$ll) || !is.null(lo$excluded)) next
          if (hi$ll < lo$ll - 1e-9) {
            r <- fit_model(S, pr[2], seed = 1L, from = lo$o)
            r$note <- sprintf("refitted from the model %d solution", pr[1])
            done[[hi$case]] <<- r; changed <- TRUE
          }
        }
        if (S > 1) for (m in models) {
          lo <- done[[cs(m, "common")]]; hi <- done[[cs(m, "sep")]]
          if (is.null(lo$ll) || is.null(hi$ll) || !is.null(lo$excluded)) next
          if (hi$ll < lo$ll - 1e-9) {
            r <- fit_model(S, m, seed = 2L, from = lo$o)
            r$note <- "refitted from the common-slope solution"
            done[[hi$case]] <<- r; changed <- TRUE
          }
        }
      }
      if (!changed) break
    }
    for (S in unique(c(1L, P))) for (model in model_list)
      done[[cs(model, if (S == 1) "common" else "sep")]] <- fit_model(S, model)
    consistency(model_list, list(c(1, 2), c(1, 3), c(2, 4), c(3, 4), c(4, 8), c(8, 4), c(7, 8)))
    # models 5 and 6, after the others
    for (S in unique(c(1L, P))) for (model in model_list_new)
      done[[cs(model, if (S == 1) "common" else "sep")]] <- fit_model(S, model)
    consistency(c(model_list, model_list_new),
                list(c(1, 2), c(1, 3), c(2, 4), c(3, 4), c(4, 8), c(8, 4), c(7, 8),
                     c(1, 6), c(2, 6), c(6, 2), c(5, 6), c(5, 7), c(6, 8)))
    # the order of the models in the output
    order_fits <- unlist(lapply(unique(c(1L, P)), function(S)
      cs(sort(c(model_list, model_list_new)), if (S == 1) "common" else "sep")))
    out <- c(out, done[order_fits])
  }
  out
}

## ---------------------------------------------------------------------------
## Run (data sets in parallel where the platform allows; every fit sets its
## own seed, so the result does not depend on the number of workers)
## ---------------------------------------------------------------------------
ncores <- if (.Platform$OS.type == "unix") min(4L, parallel::detectCores()) else 1L
# the sets with the most preparations first, so that the workers finish together
run_order <- order(-sapply(sets, function(s) length(s$data)), seq_along(sets))
results <- vector("list", length(sets))
results[run_order] <- if (ncores > 1) {
  parallel::mclapply(run_order, fit_set, mc.cores = ncores, mc.preschedule = FALSE)
} else lapply(run_order, fit_set)
for (r in results) if (inherits(r, "try-error")) stop(r)

## ---------------------------------------------------------------------------
## Checks over the results
## ---------------------------------------------------------------------------
n_glm <- 0; glm_restarted <- character(0)
for (si in seq_along(sets)) for (r in results[[si]]) {
  if (is.null(r$excluded)) {
    check_gradient(r$th, r$sp, r$case)
    e <- core(r$th, r$sp)
    Pr <- exp(e$lnP)
    if (all(Pr > 1e-8 & Pr < 1 - 1e-8)) {
      d <- abs(naive_loglik(r$th, r$sp) - loglik(r$th, r$sp))
      if (d > 1e-9 * max(1, abs(loglik(r$th, r$sp))))
        stop(sprintf("log-space kernel differs from the direct one for %s: %g", r$case, d))
    }
  }
  if (is.null(r$excluded) && r$model == 1L) {
    n_glm <- n_glm + 1
    if (glm_check(r$sp, r$o, r$case)) glm_restarted <- c(glm_restarted, r$case)
  }
}
for (si in seq_along(sets)) {
  res <- results[[si]]
  for (nm in names(res)) if (grepl("\\.m4\\.", nm)) {
    a <- res[[nm]]; b <- res[[sub("\\.m4\\.", ".m8.", nm)]]
    if (is.null(a$excluded) && is.null(b$excluded)) {
      if (abs(a$ll - b$ll) > 1e-8 || abs(a$o$C - b$o$C) > 1e-5 ||
          abs(a$o$D / (1 - a$o$C) - b$o$D) > 1e-5)
        stop("models 4 and 8 disagree for ", nm)
    }
  }
}

# models 2 and 6 are the same likelihood
for (si in seq_along(sets)) {
  res <- results[[si]]
  for (nm in names(res)) if (grepl("\\.m2\\.", nm)) {
    a <- res[[nm]]; b <- res[[sub("\\.m2\\.", ".m6.", nm)]]
    if (is.null(a$excluded) && is.null(b$excluded) &&
        (abs(a$ll - b$ll) > 1e-8 || abs(a$o$C - b$o$C) > 1e-5))
      stop("models 2 and 6 disagree for ", nm)
  }
}

# X5 under the probit model 2, common slope: the search from the regression
# lines (C = 0.05) ends at a second, lower maximum; moving the third
# preparation's curve to each of its doses, the others kept, reaches the
# maximum written.  Both are checked to be maxima.
x5_lines <- local({
  r5 <- results[[which(sapply(sets, `[[`, "name") == "X5")]][["X5.d1.m2.common"]]
  sp5 <- r5$sp
  th_low <- local_max(ls_start(sp5, 0.05, 0), sp5)
  ll_low <- loglik(th_low, sp5)
  g_low <- grad_orig(th_low, sp5)$maxproj; c_low <- curvature(th_low, sp5)$ratio
  o <- to_orig(th_low, sp5)
  x3 <- sp5$data[[3]]$x
  reach <- sapply(x3, function(x) {
    oo <- o; oo$a[3] <- -o$b * x
    loglik(local_max(from_orig(oo, sp5), sp5), sp5)
  })
  if (!is.null(r5$excluded) || !(g_low < 1e-8 && c_low > 1e-6 && r5$ll - ll_low > 1) ||
      abs(max(reach) - r5$ll) > 1e-7)
    stop("X5 does not have the two maxima it was made for")
  oh <- r5$o
  c(sprintf("# X5.d1.m2.common, second maximum: ^L %s (a %s, b %s, C %s; projected gradient %.1e, curvature ratio %.1e), where the search from the regression lines with C = 0.05 ends (all preparations moved together); the curve of X5P3 stands at log10 dose %s there",
            fmt(ll_low), paste(fmt(o$a), collapse = ","), fmt(o$b), fmt(o$C), g_low, c_low,
            formatC(-o$a[3] / o$b, digits = 4, format = "f")),
    sprintf("# X5.d1.m2.common, first maximum (the values below, %s higher): with the curve of X5P3 moved from there to stand at each of its doses (log10 %s), the others kept, the searches end at ^L %s; the curve of X5P3 stands at log10 dose %s at this maximum",
            formatC(r5$ll - ll_low, digits = 4, format = "f"), paste(x3, collapse = ", "),
            paste(fmt(reach), collapse = ", "), formatC(-oh$a[3] / oh$b, digits = 4, format = "f")))
})

## ---------------------------------------------------------------------------
## Output
## ---------------------------------------------------------------------------
lines_out <- c(
  "# Varnalo fit battery, generated by tests/reference/make_battery.R",
  sprintf("# %s, seeds %d + k for R01..R%02d; reproducers X1..X4; constructed X5 (two maxima); large sets L01..L%02d from seeds %d + k",
          GENERATOR, SEED_BASE, N_RANDOM, N_LARGE, SEED_LARGE),
  sprintf("# %s", R.version.string),
  "# format: case quantity value   (see tests/reference/README.md)",
  "# per data set: <set> files <names>, <set> fixed_c <known C of models 5 and 7>")
excl <- character(0); n_fit <- 0; n_excl <- 0
body <- character(0)
for (si in seq_along(sets)) {
  s <- sets[[si]]
  body <- c(body, sprintf("# %s: %s", s$name, s$truth))
  for (p in s$preps) body <- c(body, sprintf("#   %s: %s", p$file, p$truth))
  body <- c(body, sprintf("%s files %s", s$name, paste(sapply(s$preps, `[[`, "file"),
                                                        collapse = ",")),
            sprintf("%s fixed_c %s", s$name, fmt(s$fixed_c)))
  if (s$name == "X5") body <- c(body, x5_lines)
  for (r in results[[si]]) {
    if (!is.null(r$excluded)) {
      n_excl <- n_excl + 1
      body <- c(body, sprintf("# %s excluded: %s", r$case, r$excluded))
      excl <- c(excl, sprintf("%s: %s", r$case, r$excluded))
      next
    }
    n_fit <- n_fit + 1
    sp <- r$sp; o <- r$o
    body <- c(body, sprintf("# %s: max projected gradient %.1e, curvature ratio %.1e%s%s%s%s",
                            r$case, r$maxproj, r$curv$ratio,
                            if (!is.null(r$flat)) paste0(" (", r$flat, ")") else "",
                            if (r$ll100 < r$ll - 1e-6)
                              sprintf(", sup ^L with |b| <= %g: %s", SLOPE_LOW, fmt(r$ll100))
                            else "",
                            if (!is.null(r$prep_gain))
                              sprintf(", per-preparation moves raised ^L by %.3g", r$prep_gain)
                            else "",
                            if (!is.null(r$note)) paste0(", ", r$note) else ""))
    em <- function(q, v) body <<- c(body, paste(r$case, q, fmt(v)))
    em("max_loglik", r$ll)
    em("npar", sp$npar)
    for (i in 1:sp$P) em(paste0("a", i), o$a[i])
    if (sp$S == 1) em("b", o$b) else for (i in 1:sp$P) em(paste0("b", i), o$b[i])
    em("C", o$C)
    em("D", o$D)
  }
}
all_groups <- do.call(rbind, lapply(sets, function(s) do.call(rbind, s$data)))
lines_out <- c(lines_out,
               sprintf("# data: %d groups, %d with r = 0 and %d with r = n outside the controls; %d control groups, %d of them with responders",
                       nrow(all_groups), sum(!all_groups$ctl & all_groups$r == 0),
                       sum(!all_groups$ctl & all_groups$r == all_groups$n),
                       sum(all_groups$ctl), sum(all_groups$ctl & all_groups$r > 0)),
               sprintf("# checks passed: log-space kernel = direct formula, analytic = numerical gradient, models 4 and 8 agree, models 2 and 6 agree, X5 has two maxima, no fit gains by per-preparation moves, %d model-1 fits = glm%s",
                       n_glm, if (length(glm_restarted)) sprintf(" (IRLS restarted from our estimates for %s)",
                                                                 paste(glm_restarted, collapse = ", ")) else ""),
               sprintf("# %d fits, %d left out (reasons in the comment lines marked 'excluded')",
                       n_fit, n_excl),
               body)
writeLines(lines_out, out_file)
cat(sprintf("%d data sets, %d fits written, %d excluded, %d model-1 fits checked against glm\n",
            length(sets), n_fit, n_excl, n_glm))
cat(sprintf("run time %.0f s\n", proc.time()[["elapsed"]] - t_start))

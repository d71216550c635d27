#!/usr/bin/env Rscript
# make_information.R
#
# Variance matrices and Fieller limits at independently found maxima,
# computed with base R and written to information_values.txt next to this
# script:
#   - for every fit of the random battery (battery_values.txt, battery/):
#     the inverse expected information (the "Finney Equivalent" matrix), the
#     inverse observed information (what the "SAS Equivalent" matrix
#     approximates), and for the common-slope fits the log10 ED10, ED50 and
#     ED90 of every preparation with 95 per cent Fieller limits under both
#     matrices;
#   - for the data of data/INFO_P1..P4.TXT (four preparations whose doses lie
#     decades apart, many groups without responders, a group beyond z = -6):
#     the probit common-slope fit of glm and its vcov.
# Everything is written out here from the formulas: P0, 1 - P0 and the
# density from pnorm/plogis/exp with their accurate tails, the derivatives of
# P in the parameters, and Fieller's quadratic. R is needed only to
# regenerate the file; the C++ tests read it.
#
# Run from anywhere:   Rscript tests/reference/make_information.R

options(warn = 1)
script_path <- local({
  a <- commandArgs(trailingOnly = FALSE)
  f <- sub("^--file=", "", a[grep("^--file=", a)])
  if (length(f) == 1) normalizePath(f) else normalizePath("make_information.R")
})
ref_dir <- dirname(script_path)
fmt <- function(x) trimws(formatC(x, digits = 15, format = "g"))

# The two-tailed 95 per cent normal deviate as the program holds it (five
# decimals), so that the limits compare at the program's deviate.
T95 <- 1.95996
# ED levels whose limits are written.
ED_LEVELS <- c(0.1, 0.5, 0.9)
# Missing Fieller limits, as the program marks them.
MISSING_LOWER <- -99
MISSING_UPPER <- 99

## ---------------------------------------------------------------------------
## Distributions: P0, S0 = 1 - P0, f = F', f' = F''
## ---------------------------------------------------------------------------
dist_values <- function(dist, z) {
  if (dist == 1) {
    f <- dnorm(z)
    list(P0 = pnorm(z), S0 = pnorm(z, lower.tail = FALSE), f = f, f1 = -z * f)
  } else if (dist == 2) {
    P0 <- plogis(z); S0 <- plogis(z, lower.tail = FALSE); f <- dlogis(z)
    list(P0 = P0, S0 = S0, f = f, f1 = f * (S0 - P0))
  } else {
    t <- exp(z); S0 <- exp(-t); f <- t * S0
    list(P0 = -expm1(-t), S0 = S0, f = f, f1 = f * (1 - t))
  }
}
quantile_of <- function(dist, p) c(qnorm, qlogis, function(p) log(-log1p(-p)))[[dist]](p)

## ---------------------------------------------------------------------------
## A fit's groups and parameter layout, in the program's order:
## a_1..a_P, the slope(s), then C (models 2, 4, 6, 8) and D (3, 4, 7, 8).
## ---------------------------------------------------------------------------
read_prep <- function(path) {
  v <- read.table(path, col.names = c("dose", "n", "r"))
  data.frame(x = ifelse(v$dose == 0, NA, log10(v$dose)), n = v$n, r = v$r)
}
layout_of <- function(P, S, model) {
  k <- P + S
  hasC <- model %in% c(2, 4, 6, 8); hasD <- model %in% c(3, 4, 7, 8)
  list(P = P, S = S, k = k, hasC = hasC, hasD = hasD,
       iC = if (hasC) k + 1 else 0,
       iD = if (hasD) (if (hasC) k + 2 else k + 1) else 0,
       npar = k + hasC + hasD)
}

# Per group: P, Q, the gradient of P in the parameters (a row) and the second
# derivatives of P (a matrix), for a = a_i, b = b_s, rates C and D.
group_terms <- function(dist, model, lay, i, s, x, a, b, C, D) {
  np <- lay$npar
  ctl <- is.na(x)
  dv <- if (ctl) list(P0 = 0, S0 = 1, f = 0, f1 = 0) else dist_values(dist, a + b * x)
  aon <- model %in% c(1, 2, 3, 4)
  if (aon) {
    A <- 1 - C - D
    P <- C + A * dv$P0; Q <- D + A * dv$S0
    dC <- dv$S0; dD <- -dv$P0
    dzC <- -1; dzD <- -1; dCD <- 0       # derivatives of A (times f) and of dP/dC in D
  } else {
    A <- (1 - C) * (1 - D)
    P <- C + A * dv$P0; Q <- (1 - C) * (D + (1 - D) * dv$S0)
    dC <- 1 - (1 - D) * dv$P0; dD <- -(1 - C) * dv$P0
    dzC <- -(1 - D); dzD <- -(1 - C); dCD <- dv$P0
  }
  xx <- if (ctl) 0 else x
  g <- numeric(np); H <- matrix(0, np, np)
  ia <- i; ib <- lay$P + s
  g[ia] <- A * dv$f; g[ib] <- A * dv$f * xx
  zz <- c(1, xx); idx <- c(ia, ib)
  H[idx, idx] <- A * dv$f1 * outer(zz, zz)
  if (lay$hasC) {
    g[lay$iC] <- dC
    H[idx, lay$iC] <- H[lay$iC, idx] <- dzC * dv$f * zz
  }
  if (lay$hasD) {
    g[lay$iD] <- dD
    H[idx, lay$iD] <- H[lay$iD, idx] <- dzD * dv$f * zz
  }
  if (lay$hasC && lay$hasD) H[lay$iC, lay$iD] <- H[lay$iD, lay$iC] <- dCD
  list(P = P, Q = Q, g = g, H = H, Af = A * dv$f)
}

# Expected and observed information, and the expected weights of the
# intercepts with their weighted mean log doses (the Finney form's inputs).
informations <- function(preps, dist, model, S, est, fixed_c) {
  P <- length(preps)
  lay <- layout_of(P, S, model)
  a <- est$a; b <- est$b
  C <- if (model %in% c(5, 7)) fixed_c else if (lay$hasC) est$C else 0
  D <- if (lay$hasD) est$D else 0
  I <- matrix(0, lay$npar, lay$npar); J <- I
  Sw <- numeric(P); Sx <- numeric(P)
  pinned <- integer(0)
  for (i in 1:P) {
    s <- if (S == 1) 1 else i
    d <- preps[[i]]
    for (j in seq_len(nrow(d))) {
      t <- group_terms(dist, model, lay, i, s, d$x[j], a[i], b[s], C, D)
      n <- d$n[j]; r <- d$r[j]
      # a group that P does not depend on (a control under a model without
      # C) adds nothing, even where P Q = 0
      if (all(t$g == 0)) next
      if (t$P * t$Q == 0) {
        # P = 0 (or Q = 0) with a rate on its bound: the expected information
        # on that rate is infinite, which pins it to the bound (the observed
        # information below stays finite: no responder sees P = 0)
        pinned <- c(pinned, which(t$g != 0 & seq_along(t$g) > lay$k))
      } else {
        I <- I + n * outer(t$g, t$g) / (t$P * t$Q)
        w <- n * t$Af^2 / (t$P * t$Q)
        Sw[i] <- Sw[i] + w
        if (!is.na(d$x[j])) Sx[i] <- Sx[i] + w * d$x[j]
      }
      # -d2 l = (r/P^2 + m/Q^2) g g' - (r/P - m/Q) H, terms without subjects
      # on a side left out
      m <- n - r
      cP <- if (r > 0) r / t$P else 0; cQ <- if (m > 0) m / t$Q else 0
      cP2 <- if (r > 0) r / t$P^2 else 0; cQ2 <- if (m > 0) m / t$Q^2 else 0
      J <- J + (cP2 + cQ2) * outer(t$g, t$g) - (cP - cQ) * t$H
    }
  }
  list(I = I, J = J, Sw = Sw, xbar = Sx / Sw, lay = lay, pinned = unique(pinned))
}

# Fieller limits of rho = N / b for N with variance vN, b with variance vb
# and covariance cNb, at deviate t; NA limits when g >= 1.
fieller <- function(N, b, vN, vb, cNb, t) {
  A <- b^2 - t^2 * vb
  if (!(A > 0)) return(c(MISSING_LOWER, MISSING_UPPER))
  B <- N * b - t^2 * cNb
  Cq <- N^2 - t^2 * vN
  disc <- B^2 - A * Cq
  if (!(disc >= 0)) return(c(MISSING_LOWER, MISSING_UPPER))
  sort(c((B - sqrt(disc)) / A, (B + sqrt(disc)) / A))
}

lines_out <- c(
  "# Varnalo variance matrices and Fieller limits, generated by tests/reference/make_information.R",
  sprintf("# %s", R.version.string),
  "# <case> exp_cov_<i>_<j>: inverse expected information, entry (i, j), i <= j, program order",
  "# <case> obs_cov_<i>_<j>: inverse observed information at the same maximum",
  "# <case> ed<L>.<j> (and .finney_lo/.finney_hi/.sas_lo/.sas_hi): log10 ED at level L/100 of",
  "#   preparation j with 95 per cent Fieller limits (deviate 1.95996): Finney form from the",
  "#   expected weights of the intercept at its weighted mean log dose and the slope's variance;",
  "#   general form from the inverse observed information; -99 / 99 where g >= 1")

# The log-likelihood kernel at a parameter vector in the program's order,
# for the self-check of the observed information by second differences.
loglik_at <- function(th, preps, dist, model, lay, fixed_c) {
  C <- if (model %in% c(5, 7)) fixed_c else if (lay$hasC) th[lay$iC] else 0
  D <- if (lay$hasD) th[lay$iD] else 0
  ll <- 0
  for (i in seq_along(preps)) {
    s <- if (lay$S == 1) 1 else i
    d <- preps[[i]]
    for (j in seq_len(nrow(d))) {
      t <- group_terms(dist, model, lay, i, s, d$x[j], th[i], th[lay$P + s], C, D)
      if (d$r[j] > 0) ll <- ll + d$r[j] * log(t$P)
      if (d$n[j] > d$r[j]) ll <- ll + (d$n[j] - d$r[j]) * log(t$Q)
    }
  }
  ll
}
# Fits with more parameters check a selection of the entries.
CHECK_ALL_ENTRIES <- 12
check_observed <- function(case, preps, dist, model, S, est, fixed_c, J, lay) {
  th <- c(est$a, est$b, if (lay$hasC) est$C, if (lay$hasD) est$D)
  # with many parameters the entries of the first two and the last
  # preparation, the slopes of those, and the rates (the others repeat them)
  idx <- if (lay$npar <= CHECK_ALL_ENTRIES) 1:lay$npar else
    sort(unique(c(1, 2, lay$P, lay$P + 1, lay$P + min(2, lay$S), lay$P + lay$S,
                  if (lay$npar > lay$k) (lay$k + 1):lay$npar)))
  for (i in idx) for (j in idx[idx >= i]) {
    # steps of 1e-5 of the scale, 1e-6 for rates (whose curvature can be
    # large near 0)
    hi <- if (i > lay$k) 1e-6 else 1e-5 * max(1, abs(th[i]))
    hj <- if (j > lay$k) 1e-6 else 1e-5 * max(1, abs(th[j]))
    if ((i > lay$k && th[i] < 2 * hi) || (j > lay$k && th[j] < 2 * hj)) next
    f <- function(di, dj) { t <- th; t[i] <- t[i] + di; t[j] <- t[j] + dj
      loglik_at(t, preps, dist, model, lay, fixed_c) }
    num <- (f(hi, hj) - f(hi, -hj) - f(-hi, hj) + f(-hi, -hj)) / (4 * hi * hj)
    if (abs(-num - J[i, j]) > 1e-3 * sqrt(abs(J[i, i] * J[j, j])) + 1e-6)
      stop(sprintf("observed information of %s, entry %d,%d: %g against differences %g",
                   case, i, j, J[i, j], -num))
  }
}

emit_fit <- function(case, preps, dist, model, S, est, fixed_c, check = FALSE) {
  inf <- informations(preps, dist, model, S, est, fixed_c)
  if (check) check_observed(case, preps, dist, model, S, est, fixed_c, inf$J, inf$lay)
  lay <- inf$lay
  # a rate pinned to its bound by infinite information has variance 0
  free <- setdiff(seq_len(lay$npar), inf$pinned)
  Vi <- matrix(0, lay$npar, lay$npar)
  # (no condition-number test: a rate on its bound next to a group with Q
  # near 0 has an information of 1e16 and more, its own pivot)
  Vf <- tryCatch(solve(inf$I[free, free], tol = 0), error = function(e) NULL)
  if (is.null(Vf)) Vi <- NULL else Vi[free, free] <- Vf
  Vo <- tryCatch(solve(inf$J), error = function(e) NULL)
  if (is.null(Vi) || any(diag(Vi)[free] <= 0))
    return(sprintf("# %s: expected information singular, left out", case))
  # At a maximum on a rate's bound the observed information need not be
  # positive definite (the likelihood falls away through the bound, not
  # through curvature): no observed-information values then.
  obs_ok <- !is.null(Vo) && all(diag(Vo) > 0)
  out <- if (obs_ok) character(0) else
    sprintf("# %s: observed information not positive definite, obs_cov and sas limits left out", case)
  for (i in 1:lay$npar) for (j in i:lay$npar) {
    out <- c(out, sprintf("%s exp_cov_%d_%d %s", case, i, j, fmt(Vi[i, j])))
    if (obs_ok) out <- c(out, sprintf("%s obs_cov_%d_%d %s", case, i, j, fmt(Vo[i, j])))
  }
  if (S == 1) {
    ib <- lay$P + 1; b <- est$b[1]
    for (L in ED_LEVELS) {
      y <- quantile_of(dist, L)
      for (j in 1:lay$P) {
        m <- (y - est$a[j]) / b
        q <- sprintf("ed%d.%d", round(100 * L), j)
        # Finney form: the intercept at the weighted mean log dose has
        # variance 1 / Sw and no covariance with the slope
        alpha <- est$a[j] + b * inf$xbar[j]
        fl <- fieller(y - alpha, b, 1 / inf$Sw[j], Vi[ib, ib], 0, T95)
        if (fl[1] != MISSING_LOWER) fl <- inf$xbar[j] + fl
        out <- c(out, sprintf("%s %s %s", case, q, fmt(m)),
                 sprintf("%s %s.finney_lo %s", case, q, fmt(fl[1])),
                 sprintf("%s %s.finney_hi %s", case, q, fmt(fl[2])))
        if (obs_ok) {
          gl <- fieller(y - est$a[j], b, Vo[j, j], Vo[ib, ib], -Vo[j, ib], T95)
          out <- c(out, sprintf("%s %s.sas_lo %s", case, q, fmt(gl[1])),
                   sprintf("%s %s.sas_hi %s", case, q, fmt(gl[2])))
        }
      }
    }
  }
  out
}

## ---------------------------------------------------------------------------
## The battery
## ---------------------------------------------------------------------------
bv <- readLines(file.path(ref_dir, "battery_values.txt"))
bv <- bv[!grepl("^#", bv) & nzchar(bv)]
fields <- strsplit(bv, " ")
sets <- list(); fits <- list()
for (f in fields) {
  name <- f[1]; q <- f[2]; v <- f[3]
  if (q == "files") sets[[name]] <- list(files = strsplit(v, ",")[[1]], fixed_c = 0.5)
  else if (q == "fixed_c") sets[[name]]$fixed_c <- as.numeric(v)
  else {
    if (is.null(fits[[name]])) fits[[name]] <- list()
    fits[[name]][[q]] <- as.numeric(v)
  }
}
n_fit <- 0
for (case in names(fits)) {
  parts <- regmatches(case, regexec("^(.*)\\.d([0-9])\\.m([0-9])\\.(sep|common)$", case))[[1]]
  set <- sets[[parts[2]]]; dist <- as.integer(parts[3]); model <- as.integer(parts[4])
  preps <- lapply(set$files, function(fl) read_prep(file.path(ref_dir, "battery", fl)))
  P <- length(preps); S <- if (parts[5] == "sep") P else 1
  v <- fits[[case]]
  est <- list(a = sapply(1:P, function(i) v[[paste0("a", i)]]),
              b = if (S == 1) v[["b"]] else sapply(1:P, function(i) v[[paste0("b", i)]]),
              C = v[["C"]], D = v[["D"]])
  n_fit <- n_fit + 1
  # every seventh fit also checks the observed information by differences
  lines_out <- c(lines_out, emit_fit(case, preps, dist, model, S, est, set$fixed_c,
                                     check = n_fit %% 7 == 1))
}

## ---------------------------------------------------------------------------
## Four preparations decades apart (probit, common slope): glm's fit and vcov
## ---------------------------------------------------------------------------
info_preps <- lapply(1:4, function(i) read_prep(file.path(ref_dir, "data", sprintf("INFO_P%d.TXT", i))))
st <- do.call(rbind, info_preps)
prep <- factor(rep(1:4, sapply(info_preps, nrow)))
fit <- glm(cbind(st$r, st$n - st$r) ~ 0 + prep + st$x, family = binomial("probit"),
           control = glm.control(epsilon = 1e-15, maxit = 200))
cf <- unname(coef(fit))
est <- list(a = cf[1:4], b = cf[5], C = 0, D = 0)
inf <- informations(info_preps, 1, 1, 1, est, 0.5)
if (max(abs(solve(inf$I) - unname(vcov(fit))) / sqrt(outer(diag(vcov(fit)), diag(vcov(fit))))) > 1e-7)
  stop("the expected information differs from glm's vcov")
lines_out <- c(lines_out,
               "# INFO: probit common-slope fit of data/INFO_P1..P4.TXT by glm; exp_cov is glm's vcov",
               sprintf("INFO.d1.m1.common max_loglik %s", fmt(as.numeric(logLik(fit)) -
                 sum(lchoose(st$n, st$r)))),
               sprintf("INFO.d1.m1.common a%d %s", 1:4, fmt(cf[1:4])),
               sprintf("INFO.d1.m1.common b %s", fmt(cf[5])))
V <- unname(vcov(fit))
for (i in 1:5) for (j in i:5)
  lines_out <- c(lines_out, sprintf("INFO.d1.m1.common exp_cov_%d_%d %s", i, j, fmt(V[i, j])))

writeLines(lines_out, file.path(ref_dir, "information_values.txt"))
cat(sprintf("%d battery fits, %d lines\n", n_fit, length(lines_out)))

#!/usr/bin/env Rscript
# make_reference.R
#
# Computes independent reference values for the Varnalo test suite and writes
# them to reference_values.txt next to this script.  Only base R is used; every
# fitting, covariance, Fieller and potency routine is written out here so that
# the numbers do not depend on the C++ code they are meant to check.
#
# Run from anywhere:   Rscript tests/reference/make_reference.R
# (see README.md in this folder for the file format and the quantity names).

options(warn = 1)

## ---------------------------------------------------------------------------
## Locations
## ---------------------------------------------------------------------------
script_path <- local({
  a <- commandArgs(trailingOnly = FALSE)
  f <- sub("^--file=", "", a[grep("^--file=", a)])
  if (length(f) == 1) normalizePath(f) else normalizePath("make_reference.R")
})
ref_dir  <- dirname(script_path)
data_dir <- file.path(ref_dir, "data")
out_file <- file.path(ref_dir, "reference_values.txt")
dir.create(data_dir, showWarnings = FALSE)

# formatC pads some values with blanks; the blanks are dropped, the digits kept
fmt <- function(x) trimws(formatC(x, digits = 15, format = "g"))

## ---------------------------------------------------------------------------
## Data sets.  Each preparation is a data frame (x = log10 dose, n, r); a zero
## dose is held as x = -99, the convention of the program.
## ---------------------------------------------------------------------------
# Rotenone on Macrosiphoniella sanborni (Martin 1942): dose in mg/l.
rot_dose <- c(10.2, 7.7, 5.1, 3.8, 2.6)
rot_n    <- c(50, 49, 46, 48, 50)
rot_r    <- c(44, 42, 24, 16, 6)
# Flour beetles and carbon disulphide (Bliss 1935): first column is log10 dose.
bee_x <- c(1.6907, 1.7242, 1.7552, 1.7842, 1.8113, 1.8369, 1.8610, 1.8839)
bee_n <- c(59, 60, 62, 56, 63, 59, 62, 60)
bee_r <- c(6, 13, 18, 28, 52, 53, 61, 60)
# Tobacco budworm and trans-cypermethrin (Collett 1991), 20 moths per group.
bud_dose <- c(1, 2, 4, 8, 16, 32)
bud_m    <- c(1, 4, 9, 13, 18, 20)
bud_f    <- c(0, 2, 6, 10, 12, 16)

# Constructed variants with one control (zero-dose) group added.
rotc_dose <- c(rot_dose, 0);  rotc_n <- c(rot_n, 49);  rotc_r <- c(rot_r, 2)
beec_x    <- c(bee_x, -99);   beec_n <- c(bee_n, 60);  beec_r <- c(bee_r, 3)

log_dose <- function(d) ifelse(d <= 1e-99, -99, log10(d))

# Sort like the program: ascending log dose, ties by observed proportion.
prep <- function(x, n, r) {
  d <- data.frame(x = x, n = n, r = r)
  d[order(d$x, d$r / d$n), , drop = FALSE]
}

datasets <- list(
  rotenone   = list(prep(log_dose(rot_dose), rot_n, rot_r)),
  beetle     = list(prep(bee_x, bee_n, bee_r)),
  budworm    = list(prep(log_dose(bud_dose), rep(20, 6), bud_m),
                    prep(log_dose(bud_dose), rep(20, 6), bud_f)),
  rotenone_c = list(prep(log_dose(rotc_dose), rotc_n, rotc_r)),
  beetle_c   = list(prep(beec_x, beec_n, beec_r))
)

# Data files written for the program (lines "dose n r", dose scale as noted).
write_data <- function(name, dose, n, r) {
  if (is.numeric(dose)) dose <- as.character(dose)
  writeLines(sprintf("%s %s %s", dose, n, r),
             file.path(data_dir, name))
}
write_data("BUDWORM_M.TXT", bud_dose, rep(20, 6), bud_m)
write_data("BUDWORM_F.TXT", bud_dose, rep(20, 6), bud_f)
write_data("ROTENONE_C.TXT", rotc_dose, rotc_n, rotc_r)          # dose scale
write_data("BEETLE_C.TXT", c(sprintf("%.4f", bee_x), "-99"),       # log10 dose
           beec_n, beec_r)

## ---------------------------------------------------------------------------
## Tolerance distributions: F, upper tail 1 - F, density f, derivative f',
## inverse.  Upper tails are computed directly so that ln(1 - P) stays exact.
## ---------------------------------------------------------------------------
dists <- list(
  list(F = function(z) pnorm(z), Q = function(z) pnorm(z, lower.tail = FALSE),
       f = function(z) dnorm(z), fp = function(z) -z * dnorm(z),
       inv = function(p) qnorm(p)),
  list(F = function(z) plogis(z), Q = function(z) plogis(z, lower.tail = FALSE),
       f = function(z) dlogis(z),
       fp = function(z) dlogis(z) * (1 - 2 * plogis(z)),
       inv = function(p) qlogis(p)),
  list(F = function(z) -expm1(-exp(z)), Q = function(z) exp(-exp(z)),
       f = function(z) exp(z - exp(z)),
       fp = function(z) exp(z - exp(z)) * (1 - exp(z)),
       inv = function(p) log(-log1p(-p)))
)

nextra_of <- c(0, 1, 1, 2, 0, 1, 1, 2)
extra_names <- function(model) switch(model, character(0), "C", "D", c("C", "D"),
                                      character(0), "C", "D", c("C", "D"))
FIXED_C <- 0.5

## A fit description: data (stacked), number of preparations P, number of
## slopes S (1 = common, P = separate), model, distribution.
make_spec <- function(preps, S, model, dist) {
  P <- length(preps)
  g <- rep(seq_len(P), sapply(preps, nrow))
  st <- do.call(rbind, preps)
  list(P = P, S = S, model = model, dist = dist, D = dists[[dist]],
       x = st$x, n = st$n, r = st$r, g = g,
       bi = if (S == 1) rep(1L, length(g)) else g,
       npar = P + S + nextra_of[model],
       names = c(paste0("a", seq_len(P)),
                 if (S == 1) "b" else paste0("b", seq_len(P)),
                 extra_names(model)))
}

## Everything at one parameter vector: P, Q = 1 - P, dP/dtheta (J) and the
## second derivatives of P (array H[group, u, v]).
evaluate <- function(th, sp, second = FALSE) {
  P <- sp$P; S <- sp$S; k <- P + S; m <- sp$model
  a <- th[1:P]; b <- th[(P + 1):k]
  C <- 0; D <- 0
  if (m %in% c(2, 6)) C <- th[k + 1]
  if (m == 3) D <- th[k + 1]
  if (m %in% c(4, 8)) { C <- th[k + 1]; D <- th[k + 2] }
  if (m == 5) C <- FIXED_C
  if (m == 7) { C <- FIXED_C; D <- th[k + 1] }
  z  <- a[sp$g] + b[sp$bi] * sp$x
  P0 <- sp$D$F(z); Q0 <- sp$D$Q(z); f <- sp$D$f(z)
  if (m <= 4) {                      # all or nothing
    w0 <- 1 - C - D
    Pr <- C + w0 * P0; Qr <- D + w0 * Q0
    dC <- Q0; dD <- -P0
    dw0C <- -1; dw0D <- -1; dCD <- 0
  } else {                           # preference
    w0 <- (1 - C) * (1 - D)
    Pr <- C + w0 * P0; Qr <- (1 - C) * (D + (1 - D) * Q0)
    dC <- D + (1 - D) * Q0; dD <- -(1 - C) * P0
    dw0C <- -(1 - D); dw0D <- -(1 - C); dCD <- P0
  }
  ng <- length(z); np <- sp$npar
  J <- matrix(0, ng, np)
  for (j in 1:P) J[sp$g == j, j] <- (w0 * f)[sp$g == j]
  for (s in 1:S) J[sp$bi == s, P + s] <- (w0 * f * sp$x)[sp$bi == s]
  ex <- extra_names(m)
  for (e in seq_along(ex)) J[, k + e] <- if (ex[e] == "C") dC else dD
  res <- list(P = Pr, Q = Qr, J = J, P0 = P0, f = f, w0 = w0, C = C, D = D)
  if (second) {
    fp <- sp$D$fp(z)
    H <- array(0, c(ng, np, np))
    for (i in 1:ng) {
      ia <- sp$g[i]; ib <- P + sp$bi[i]; xi <- sp$x[i]
      H[i, ia, ia] <- w0 * fp[i]
      H[i, ia, ib] <- H[i, ib, ia] <- w0 * fp[i] * xi
      H[i, ib, ib] <- w0 * fp[i] * xi * xi
      for (e in seq_along(ex)) {
        dw <- if (ex[e] == "C") dw0C else dw0D
        H[i, ia, k + e] <- H[i, k + e, ia] <- dw * f[i]
        H[i, ib, k + e] <- H[i, k + e, ib] <- dw * f[i] * xi
      }
      if (length(ex) == 2)
        H[i, k + 1, k + 2] <- H[i, k + 2, k + 1] <- if (m <= 4) 0 else dCD[i]
    }
    res$H <- H
  }
  res
}

# log-likelihood kernel sum r ln P + (n - r) ln(1 - P), no binomial coefficient
loglik <- function(th, sp) {
  e <- evaluate(th, sp)
  if (any(!is.finite(e$P)) || any(e$P <= 0) || any(e$Q <= 0)) return(-1e300)
  nr <- sp$n - sp$r
  sum(ifelse(sp$r > 0, sp$r * log(e$P), 0) + ifelse(nr > 0, nr * log(e$Q), 0))
}
score <- function(th, sp) {
  e <- evaluate(th, sp)
  as.vector(crossprod(e$J, (sp$r - sp$n * e$P) / (e$P * e$Q)))
}
expected_info <- function(th, sp) {
  e <- evaluate(th, sp)
  crossprod(e$J, e$J * (sp$n / (e$P * e$Q)))
}
observed_info <- function(th, sp) {          # minus the Hessian of loglik
  e <- evaluate(th, sp, second = TRUE)
  u <- (sp$r / e$P^2 + (sp$n - sp$r) / e$Q^2)
  v <- (sp$r / e$P - (sp$n - sp$r) / e$Q)
  I <- crossprod(e$J, e$J * u)
  for (i in seq_along(u)) I <- I - v[i] * e$H[i, , ]
  I
}
saturated <- function(sp) {
  nr <- sp$n - sp$r
  sum(ifelse(sp$r > 0, sp$r * log(sp$r / sp$n), 0) +
      ifelse(nr > 0, nr * log(nr / sp$n), 0))
}

## ---------------------------------------------------------------------------
## Maximum likelihood.  Multi-start bounded quasi-Newton search, Nelder-Mead
## and BFGS restarts, then Newton polishing on the free parameters with the
## analytic observed information.  An extra parameter that wants to go below
## zero is held at the boundary 0 (the program never lets C or D go negative).
## ---------------------------------------------------------------------------
link_name <- c("probit", "logit", "cloglog")

glm_start <- function(sp) {
  keep <- sp$x > -99
  prepf <- factor(sp$g[keep]); x <- sp$x[keep]
  y <- cbind(sp$r[keep], sp$n[keep] - sp$r[keep])
  fam <- binomial(link = link_name[sp$dist])
  # a very tight tolerance: the fit is also the cross-check of model 1, and glm
  # only reports "not converged" when the deviance change is at rounding level
  ctl <- glm.control(epsilon = 1e-15, maxit = 100)
  fit <- suppressWarnings(
    if (sp$P == 1) glm(y ~ x, family = fam, control = ctl)
    else if (sp$S == 1) glm(y ~ 0 + prepf + x, family = fam, control = ctl)
    else glm(y ~ 0 + prepf + prepf:x, family = fam, control = ctl))
  list(fit = fit, coef = unname(coef(fit)))
}

fit_model <- function(sp) {
  k <- sp$P + sp$S; ne <- nextra_of[sp$model]; np <- sp$npar
  gs <- glm_start(sp)
  base <- gs$coef
  starts <- list()
  Cst <- c(0.001, 0.03, 0.1, 0.25); Dst <- c(0.001, 0.03, 0.1, 0.25)
  bscale <- c(1, 0.7, 1.5)
  for (bs in bscale) {
    ab <- base; ab[(sp$P + 1):k] <- ab[(sp$P + 1):k] * bs
    # keep ED50 roughly in place when the slope is rescaled
    xm <- mean(sp$x[sp$x > -99])
    for (j in 1:sp$P) {
      bj <- ab[sp$P + if (sp$S == 1) 1 else j]
      ab[j] <- base[j] + (base[sp$P + if (sp$S == 1) 1 else j] - bj) * xm
    }
    if (ne == 0) starts[[length(starts) + 1]] <- ab
    if (ne == 1) for (c0 in (if (extra_names(sp$model) == "C") Cst else Dst))
      starts[[length(starts) + 1]] <- c(ab, c0)
    if (ne == 2) for (c0 in Cst) for (d0 in Dst)
      starts[[length(starts) + 1]] <- c(ab, c0, d0)
  }
  nll <- function(th) -loglik(th, sp)
  ngr <- function(th) -score(th, sp)
  lower <- c(rep(-Inf, k), rep(0, ne)); upper <- c(rep(Inf, k), rep(0.999, ne))
  results <- list()
  for (st in starts) {
    o <- try(optim(st, nll, ngr, method = "L-BFGS-B", lower = lower,
                   upper = upper, control = list(maxit = 5000, factr = 1,
                                                 pgtol = 0)), silent = TRUE)
    if (inherits(o, "try-error")) next
    th <- o$par
    for (rep in 1:3) {                      # restarts
      o2 <- optim(th, nll, method = "Nelder-Mead",
                  control = list(maxit = 20000, reltol = 1e-15))
      if (all(o2$par[seq_len(ne) + k] >= 0) && o2$value < nll(th)) th <- o2$par
      o3 <- optim(th, nll, ngr, method = "L-BFGS-B", lower = lower,
                  upper = upper, control = list(maxit = 5000, factr = 1, pgtol = 0))
      if (o3$value <= nll(th)) th <- o3$par
    }
    results[[length(results) + 1]] <- list(th = th, ll = loglik(th, sp))
  }
  lls <- sapply(results, `[[`, "ll")
  best <- results[[which.max(lls)]]$th
  # active set: extras on the boundary with the score pointing outwards
  fixed <- rep(FALSE, np)
  if (ne > 0) for (e in 1:ne) {
    idx <- k + e
    if (best[idx] < 1e-6) {
      t0 <- best; t0[idx] <- 0
      if (score(t0, sp)[idx] <= 0) { fixed[idx] <- TRUE; best[idx] <- 0 }
    }
  }
  th <- polish(best, sp, fixed)
  # any extra polished below zero goes to the boundary and we polish again
  while (ne > 0 && any(th[k + seq_len(ne)] < 0)) {
    idx <- k + which(th[k + seq_len(ne)] < 0)[1]
    fixed[idx] <- TRUE; th[idx] <- 0
    th <- polish(th, sp, fixed)
  }
  g <- score(th, sp)
  list(th = th, fixed = fixed, grad = g,
       maxgrad_free = max(abs(g[!fixed])),
       kkt_ok = all(g[fixed] <= 1e-8),
       ll = loglik(th, sp), ll_spread = max(lls) - sort(lls)[max(1, ceiling(length(lls) / 2))],
       n_starts = length(results), glm = gs$fit)
}

polish <- function(th, sp, fixed) {
  free <- which(!fixed)
  for (it in 1:100) {
    g <- score(th, sp)[free]
    if (max(abs(g)) < 1e-13) break
    I <- observed_info(th, sp)[free, free, drop = FALSE]
    step <- tryCatch(solve(I, g), error = function(e) NULL)
    if (is.null(step)) break
    ll0 <- loglik(th, sp); lam <- 1; ok <- FALSE
    while (lam > 1e-8) {
      t1 <- th; t1[free] <- th[free] + lam * step
      if (loglik(t1, sp) >= ll0 - 1e-12) { ok <- TRUE; break }
      lam <- lam / 2
    }
    if (!ok) break
    th <- t1
  }
  th
}

## ---------------------------------------------------------------------------
## Fieller limits from the textbook quadratic.  For a ratio m = N/D with
## var(N) = vN, var(D) = vD, cov(N, D) = cND, the limits are the roots in m of
##   (N - m D)^2 = t^2 (vN - 2 m cND + m^2 vD).
## When the leading coefficient D^2 - t^2 vD is not positive (g >= 1) there is
## no bounded interval and the program's missing-limit markers are returned.
## ---------------------------------------------------------------------------
fieller <- function(N, D, vN, vD, cND, t) {
  A <- D * D - t * t * vD
  B <- -2 * (N * D - t * t * cND)
  Cq <- N * N - t * t * vN
  if (!(A > 0)) return(c(lo = -99, hi = 99))
  disc <- B * B - 4 * A * Cq
  if (disc < 0) disc <- 0
  r <- (-B + c(-1, 1) * sqrt(disc)) / (2 * A)
  c(lo = min(r), hi = max(r))
}
# first-order variance of N/D
delta_var <- function(N, D, vN, vD, cND) {
  m <- N / D
  (vN - 2 * m * cND + m * m * vD) / (D * D)
}

## ---------------------------------------------------------------------------
## Output collection
## ---------------------------------------------------------------------------
lines_out <- character(0)
emit <- function(case, q, v) {
  lines_out <<- c(lines_out, paste(case, q, fmt(v)))
}
comment <- function(...) lines_out <<- c(lines_out, paste("#", ...))
notes <- character(0)

conf_alpha <- c(0.10, 0.05, 0.01)
conf_tag   <- c("90", "95", "99")
# the program's fixed normal deviates for 90, 95 and 99 per cent
z_dev <- c(1.64485, 1.95996, 2.57583)
ed_levels <- c(0.01, 0.05, 0.10, 0.50, 0.90, 0.95, 0.99)

## One fit, its basic quantities written under `case`.  Returns the pieces
## that the later stages need.
report_fit <- function(case, sp, fr) {
  th <- fr$th; nm <- sp$names
  e <- evaluate(th, sp)
  ll <- fr$ll; sat <- saturated(sp)
  E <- sp$n * e$P
  pear <- sum(ifelse(E > 0 & E < sp$n, (sp$r - E)^2 / (E * (1 - E / sp$n)), 0))
  lr <- 2 * (sat - ll)
  np <- sp$npar; df <- length(sp$x) - np
  sym <- function(M) (M + t(M)) / 2
  Ifin <- expected_info(th, sp); Vfin <- sym(solve(Ifin))
  Iobs <- observed_info(th, sp); Vobs <- sym(solve(Iobs))
  comment(sprintf("%s: %d starts, max |score| over free parameters %.2e, boundary: %s",
                  case, fr$n_starts, fr$maxgrad_free,
                  if (any(fr$fixed)) paste(nm[fr$fixed], collapse = ",") else "none"))
  emit(case, "npar", np); emit(case, "groups", length(sp$x)); emit(case, "df", df)
  emit(case, "max_loglik", ll); emit(case, "loglik", ll)
  emit(case, "saturated", sat)
  emit(case, "lr", lr); emit(case, "pearson", pear)
  emit(case, "aic", 2 * np - 2 * ll)
  for (i in seq_len(np)) emit(case, nm[i], th[i])
  if (!("C" %in% nm)) emit(case, "C", e$C)
  if (!("D" %in% nm)) emit(case, "D", e$D)
  for (i in seq_len(np)) for (j in seq_len(np))
    emit(case, sprintf("cov_%d_%d", i, j), Vfin[i, j])
  for (i in seq_len(np)) for (j in seq_len(np))
    emit(case, sprintf("obscov_%d_%d", i, j), Vobs[i, j])
  for (i in seq_len(np)) {
    emit(case, paste0("se_", nm[i]), sqrt(Vfin[i, i]))
    emit(case, paste0("wald_", nm[i]), th[i]^2 / Vfin[i, i])
    emit(case, paste0("obsse_", nm[i]), sqrt(Vobs[i, i]))
  }
  # per preparation: information weights and weighted mean log dose
  w <- sp$n * (e$w0 * e$f)^2 / (e$P * e$Q)
  sumw <- tapply(w, sp$g, sum); meanx <- tapply(w * sp$x, sp$g, sum) / sumw
  for (j in 1:sp$P) {
    emit(case, paste0("sumw_", j), sumw[j]); emit(case, paste0("meanx_", j), meanx[j])
    ii <- which(sp$g == j)
    for (kk in seq_along(ii)) emit(case, sprintf("exp_%d_%d", j, kk), E[ii[kk]])
  }
  list(th = th, Vfin = Vfin, Vobs = Vobs, lr = lr, pearson = pear, df = df,
       np = np, ll = ll, sumw = sumw, meanx = meanx, C = e$C, D = e$D)
}

## Potency-stage quantities of a common-slope fit.  het holds the
## heterogeneity chi-squares (from the separate-slopes fit when there is one).
report_potency <- function(case, sp, R, het) {
  P <- sp$P; b <- R$th[P + 1]; a <- R$th[1:P]; bi <- P + 1
  hp <- het$pearson / het$df; hl <- het$lr / het$df
  emit(case, "het_df", het$df); emit(case, "het_pearson", het$pearson)
  emit(case, "het_lr", het$lr)
  emit(case, "het_p_pearson", pchisq(het$pearson, het$df, lower.tail = FALSE))
  emit(case, "het_p_lr", pchisq(het$lr, het$df, lower.tail = FALSE))
  emit(case, "hetfac_pearson", hp); emit(case, "hetfac_lr", hl)
  if (P > 1) {
    pdf <- R$df - het$df
    pp <- R$pearson - het$pearson; pl <- R$lr - het$lr
    emit(case, "par_df", pdf); emit(case, "par_pearson", pp); emit(case, "par_lr", pl)
    emit(case, "par_p_pearson", pchisq(pp, pdf, lower.tail = FALSE))
    emit(case, "par_p_lr", pchisq(pl, pdf, lower.tail = FALSE))
    fp <- (pp / pdf) / (het$pearson / het$df); fl <- (pl / pdf) / (het$lr / het$df)
    emit(case, "vr_f_pearson", fp)
    emit(case, "vr_p_pearson", pf(fp, pdf, het$df, lower.tail = FALSE))
    emit(case, "vr_f_lr", fl)
    emit(case, "vr_p_lr", pf(fl, pdf, het$df, lower.tail = FALSE))
  }
  # derived location/scale form from the expected-information covariance
  V <- R$Vfin; np <- R$np
  G <- diag(np)                           # Jacobian of (m, s, extras) wrt theta
  for (j in 1:P) { G[j, j] <- -1 / b; G[j, bi] <- a[j] / b^2 }
  G[bi, bi] <- -1 / b^2
  U <- G %*% V %*% t(G); U <- (U + t(U)) / 2
  for (j in 1:P) emit(case, paste0("m", j), -a[j] / b)
  emit(case, "s", 1 / b)
  for (i in seq_len(np)) for (j in seq_len(np))
    emit(case, sprintf("dcov_%d_%d", i, j), U[i, j])
  # deviates
  tdf <- het$df
  tdev <- if (tdf >= 1) qt(1 - conf_alpha / 2, tdf) else rep(NA, 3)
  for (l in 1:3) emit(case, paste0("tdev", conf_tag[l]), tdev[l])
  # covariance / deviate variants: fin and obs matrices (general Fieller),
  # fnm = mean-centred form (numerator about the weighted mean log dose,
  # taken as uncorrelated with b, numerator variance 1/sumw).
  variants <- list()
  variants$z <- list(h = 1, dev = z_dev)
  if (tdf >= 1) variants$t <- list(h = hp, dev = tdev)
  for (vk in names(variants)) for (cv in c("fin", "obs")) {
    Vm <- (if (cv == "fin") R$Vfin else R$Vobs) * variants[[vk]]$h
    for (l in 1:3) {
      tt <- variants[[vk]]$dev[l]
      emit(case, sprintf("g%s_%s_%s", conf_tag[l], cv, vk), tt^2 * Vm[bi, bi] / b^2)
    }
  }
  # effective doses
  for (p in ed_levels) {
    Y <- sp$D$inv(p); lab <- paste0("ed", round(100 * p))
    for (j in 1:P) {
      m <- (Y - a[j]) / b
      emit(case, sprintf("%s_log_%d", lab, j), m)
      emit(case, sprintf("%s_var_fin_%d", lab, j),
           delta_var(Y - a[j], b, R$Vfin[j, j], R$Vfin[bi, bi], -R$Vfin[j, bi]))
      emit(case, sprintf("%s_var_obs_%d", lab, j),
           delta_var(Y - a[j], b, R$Vobs[j, j], R$Vobs[bi, bi], -R$Vobs[j, bi]))
      Nc <- Y - a[j] - b * R$meanx[j]
      emit(case, sprintf("%s_var_fnm_%d", lab, j),
           delta_var(Nc, b, 1 / R$sumw[j], R$Vfin[bi, bi], 0))
      for (vk in names(variants)) {
        h <- variants[[vk]]$h
        for (l in 1:3) {
          tt <- variants[[vk]]$dev[l]
          for (cv in c("fin", "obs")) {
            Vm <- (if (cv == "fin") R$Vfin else R$Vobs) * h
            lim <- fieller(Y - a[j], b, Vm[j, j], Vm[bi, bi], -Vm[j, bi], tt)
            emit(case, sprintf("%s_lo%s_%s_%s_%d", lab, conf_tag[l], cv, vk, j), lim["lo"])
            emit(case, sprintf("%s_hi%s_%s_%s_%d", lab, conf_tag[l], cv, vk, j), lim["hi"])
          }
          lim <- fieller(Nc, b, h / R$sumw[j], h * R$Vfin[bi, bi], 0, tt)
          if (lim["lo"] > -99) lim <- lim + R$meanx[j]
          emit(case, sprintf("%s_lo%s_fnm_%s_%d", lab, conf_tag[l], vk, j), lim["lo"])
          emit(case, sprintf("%s_hi%s_fnm_%s_%d", lab, conf_tag[l], vk, j), lim["hi"])
        }
      }
    }
  }
  # relative potency against each reference preparation
  if (P > 1) for (S in 1:P) for (j in 1:P) {
    N <- a[j] - a[S]; M <- N / b; pre <- sprintf("rp%d", S)
    emit(case, sprintf("%s_log_%d", pre, j), M)
    vN <- function(Vm) Vm[j, j] + Vm[S, S] - 2 * Vm[j, S]
    cN <- function(Vm) Vm[j, bi] - Vm[S, bi]
    emit(case, sprintf("%s_var_fin_%d", pre, j),
         delta_var(N, b, vN(R$Vfin), R$Vfin[bi, bi], cN(R$Vfin)))
    emit(case, sprintf("%s_var_obs_%d", pre, j),
         delta_var(N, b, vN(R$Vobs), R$Vobs[bi, bi], cN(R$Vobs)))
    Nc <- N + b * (R$meanx[j] - R$meanx[S])   # alpha_j - alpha_S
    vNc <- 1 / R$sumw[j] + 1 / R$sumw[S]
    emit(case, sprintf("%s_var_fnm_%d", pre, j), delta_var(Nc, b, vNc, R$Vfin[bi, bi], 0))
    for (vk in names(variants)) {
      h <- variants[[vk]]$h
      for (l in 1:3) {
        tt <- variants[[vk]]$dev[l]
        for (cv in c("fin", "obs")) {
          Vm <- (if (cv == "fin") R$Vfin else R$Vobs) * h
          if (j == S) lim <- c(lo = 0, hi = 0)
          else lim <- fieller(N, b, vN(Vm), Vm[bi, bi], cN(Vm), tt)
          emit(case, sprintf("%s_lo%s_%s_%s_%d", pre, conf_tag[l], cv, vk, j), lim["lo"])
          emit(case, sprintf("%s_hi%s_%s_%s_%d", pre, conf_tag[l], cv, vk, j), lim["hi"])
        }
        lim <- fieller(Nc, b, h * vNc, h * R$Vfin[bi, bi], 0, tt)
        if (lim["lo"] > -99) lim <- lim + (R$meanx[S] - R$meanx[j])
        emit(case, sprintf("%s_lo%s_fnm_%s_%d", pre, conf_tag[l], vk, j), lim["lo"])
        emit(case, sprintf("%s_hi%s_fnm_%s_%d", pre, conf_tag[l], vk, j), lim["hi"])
      }
    }
  }
  # natural response / immunity rates with Wald limits, lower clamped at 0
  k <- P + 1
  ex <- extra_names(sp$model)
  if (sp$model >= 5) emit(case, "bias", R$C / (1 - R$C))
  for (e in seq_along(ex)) {
    est <- R$th[k + e]
    for (vk in names(variants)) for (cv in c("fin", "obs")) {
      Vm <- (if (cv == "fin") R$Vfin else R$Vobs) * variants[[vk]]$h
      se <- sqrt(Vm[k + e, k + e])
      for (l in 1:3) {
        tt <- variants[[vk]]$dev[l]
        lo <- est - tt * se; if (!(lo > 0)) lo <- 0
        emit(case, sprintf("%s_lo%s_%s_%s", ex[e], conf_tag[l], cv, vk), lo)
        emit(case, sprintf("%s_hi%s_%s_%s", ex[e], conf_tag[l], cv, vk), est + tt * se)
      }
    }
  }
}

## Sanity check of a fit: slope finite and moderate, extras proper
## proportions, information matrix invertible.
well_posed <- function(sp, fr) {
  k <- sp$P + sp$S; ne <- nextra_of[sp$model]
  b <- fr$th[(sp$P + 1):k]
  ok <- all(is.finite(fr$th)) && all(abs(b) < 200) && fr$maxgrad_free < 1e-6 &&
        fr$kkt_ok
  if (ne > 0) ok <- ok && all(fr$th[k + seq_len(ne)] < 0.99)
  if (ok) {
    ev <- eigen(expected_info(fr$th, sp), symmetric = TRUE, only.values = TRUE)$values
    ok <- min(ev) / max(ev) > 1e-13
  }
  ok
}

## ---------------------------------------------------------------------------
## Main loop over data sets, distributions and models
## ---------------------------------------------------------------------------
dist_tag <- c("d1", "d2", "d3")
lines_out <- c(
  "# Varnalo reference values, generated by tests/reference/make_reference.R",
  sprintf("# %s", R.version.string),
  "# format: case quantity value   (see tests/reference/README.md)")

for (ds in names(datasets)) {
  preps <- datasets[[ds]]
  has_control <- any(sapply(preps, function(d) any(d$x <= -99)))
  for (d in 1:3) for (m in 1:8) {
    base <- sprintf("%s.%s.m%d", ds, dist_tag[d], m)
    if (has_control && m %in% c(1, 3)) {
      notes <- c(notes, sprintf("%s: not fitted (control group with responders, model has no C)", base))
      next
    }
    het <- NULL
    if (length(preps) > 1) {
      sp <- make_spec(preps, length(preps), m, d)
      fr <- fit_model(sp)
      if (!well_posed(sp, fr)) {
        notes <- c(notes, sprintf("%s.sep: ill-posed, not written", base)); next
      }
      Rs <- report_fit(paste0(base, ".sep"), sp, fr)
      het <- list(pearson = Rs$pearson, lr = Rs$lr, df = Rs$df)
    }
    sp <- make_spec(preps, 1, m, d)
    fr <- fit_model(sp)
    if (!well_posed(sp, fr)) {
      notes <- c(notes, sprintf("%s.common: ill-posed, not written", base)); next
    }
    if (any(fr$fixed))
      notes <- c(notes, sprintf("%s.common: on boundary %s = 0", base,
                                paste(sp$names[fr$fixed], collapse = ",")))
    case <- paste0(base, ".common")
    R <- report_fit(case, sp, fr)
    if (is.null(het)) het <- list(pearson = R$pearson, lr = R$lr, df = R$df)
    report_potency(case, sp, R, het)
    # model 1 cross-check against glm (estimates and covariance)
    if (m == 1) {
      gl <- fr$glm
      dco <- max(abs(coef(gl) - R$th) / abs(R$th))
      dv  <- max(abs(vcov(gl) - R$Vfin) / max(abs(R$Vfin)))
      comment(sprintf("%s: glm cross-check rel. diff estimates %.1e, covariance %.1e",
                      case, dco, dv))
      if (dco > 1e-9 || dv > 1e-7) stop("glm cross-check failed for ", case)
    }
  }
}

## ---------------------------------------------------------------------------
## Probability function references
## ---------------------------------------------------------------------------
emit("prob", "chi2_upper_3.84_1", pchisq(3.84, 1, lower.tail = FALSE))
emit("prob", "chi2_upper_5.99_2", pchisq(5.99, 2, lower.tail = FALSE))
emit("prob", "chi2_upper_7.81_3", pchisq(7.81, 3, lower.tail = FALSE))
emit("prob", "chi2_upper_19.675_11", pchisq(19.675, 11, lower.tail = FALSE))
emit("prob", "chi2_upper_10_10", pchisq(10, 10, lower.tail = FALSE))
emit("prob", "chi2_upper_30_20", pchisq(30, 20, lower.tail = FALSE))
emit("prob", "f_upper_1_1_1", pf(1, 1, 1, lower.tail = FALSE))
emit("prob", "f_upper_1_2_2", pf(1, 2, 2, lower.tail = FALSE))
emit("prob", "f_upper_2_1_2", pf(2, 1, 2, lower.tail = FALSE))
emit("prob", "f_upper_2.5_3_7", pf(2.5, 3, 7, lower.tail = FALSE))
emit("prob", "f_upper_4_1_10", pf(4, 1, 10, lower.tail = FALSE))
emit("prob", "t_two_2_5", 2 * pt(-2, 5))
emit("prob", "t_two_1_1", 2 * pt(-1, 1))
emit("prob", "t_two_2.228_10", 2 * pt(-2.228, 10))
emit("prob", "t_two_1.5_30", 2 * pt(-1.5, 30))
for (qa in list(c(0.05, 1), c(0.05, 5), c(0.05, 30), c(0.01, 13), c(0.1, 4),
                c(0.05, 2), c(0.1, 1), c(0.01, 4)))
  emit("prob", sprintf("t_quant_%s_%d", format(qa[1]), qa[2]), qt(1 - qa[1] / 2, qa[2]))
for (p in c(0.001, 0.01, 0.025, 0.05, 0.1, 0.3, 0.5, 0.7, 0.9, 0.95, 0.975, 0.99, 0.995))
  emit("prob", sprintf("qnorm_%s", format(p)), qnorm(p))
for (z in c(-3, -1.96, -1, 0, 0.5, 1, 1.96, 3))
  emit("prob", sprintf("pnorm_%s", format(z)), pnorm(z))

lines_out <- c(lines_out, "# notes:", paste("#  ", notes))
writeLines(lines_out, out_file)
cat(sprintf("wrote %d lines to %s\n", length(lines_out), out_file))
cat(paste(notes, collapse = "\n"), "\n")

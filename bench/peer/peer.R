# The analysis of one comparison case done in base R, as a user without
# Varnalo would do it: the separate-slopes fit (one line per preparation),
# the common-slope fit, the Pearson and likelihood-ratio tests of
# heterogeneity and parallelism (with the heterogeneity factor and t
# deviates when heterogeneity is significant at 0.05, Pearson adopted), the
# estimates with standard errors, and ED50, ED10 and ED90 with 95 % Fieller
# limits for every preparation from the common-slope fit.
#
# Model 1 (a, b): glm with the logit or probit link, per preparation and with
# one slope over all. Model 4 (a, b, C, D with C the natural response and D
# the natural immunity rate, P = C + (1 - C - D) F(a + b log10 dose)):
# optim's L-BFGS-B on the negative log-likelihood with its analytic
# gradient, C and D shared by all preparations, each in [0, 0.5] (so that
# C + D never passes 1), started from per-preparation probit glm fits;
# standard errors from optimHess on the analytic gradient.
#
# Usage: Rscript peer.R CASE_DIR   (a folder written by generate.py)

args <- commandArgs(trailingOnly = TRUE)
if (length(args) != 1) stop("usage: Rscript peer.R CASE_DIR")
dir <- args[1]
case <- read.table(file.path(dir, "case.txt"), row.names = 1)
distribution <- case["distribution", 1]   # 1 Normal, 2 Logistic
model <- case["model", 1]                 # 1 or 4
link <- if (distribution == 1) "probit" else "logit"
cdf <- if (distribution == 1) pnorm else plogis
quantile_fn <- if (distribution == 1) qnorm else qlogis
level <- 0.05                             # significance level of the tests
ed_levels <- c(0.5, 0.1, 0.9)

files <- sort(list.files(file.path(dir, "DATA"), pattern = "\\.TXT$", full.names = TRUE))
preps <- sub("\\.TXT$", "", basename(files))
np <- length(files)
data <- do.call(rbind, lapply(seq_len(np), function(i) {
  d <- read.table(files[i], col.names = c("dose", "n", "r"))
  d$prep <- i
  d
}))
data$control <- data$dose <= 0
# Control groups enter through C alone; their x is never used.
data$x <- ifelse(data$control, 0, log10(pmax(data$dose, 1e-300)))
data$f <- factor(data$prep, levels = seq_len(np), labels = preps)
ngroups <- nrow(data)

# ---- Fits -------------------------------------------------------------------
if (model == 1) {
  separate <- lapply(seq_len(np), function(i)
    glm(cbind(r, n - r) ~ x, family = binomial(link), data = data[data$prep == i, ]))
  sep_expected <- unlist(lapply(separate, fitted)) * data$n
  sep_table <- do.call(rbind, lapply(seq_len(np), function(i)
    coef(summary(separate[[i]]))))
  sep_npar <- 2 * np
  common <- glm(cbind(r, n - r) ~ 0 + f + x, family = binomial(link), data = data)
  com_expected <- fitted(common) * data$n
  com_coef <- coef(common)
  com_cov <- vcov(common)
  com_npar <- np + 1
} else {
  # Parameters: a_1..a_P, then the slopes (P of them, or one), then C and D.
  treated <- !data$control
  prep <- data$prep
  loglik_parts <- function(par, nslopes) {
    a <- par[prep]
    b <- if (nslopes == 1) par[np + 1] else par[np + prep]
    C <- par[np + nslopes + 1]
    D <- par[np + nslopes + 2]
    z <- a + b * data$x
    F <- pnorm(z)
    Fc <- pnorm(z, lower.tail = FALSE)
    dens <- dnorm(z)
    F[!treated] <- 0
    Fc[!treated] <- 1
    dens[!treated] <- 0
    p <- pmax(C + (1 - C - D) * F, 1e-300)
    q <- pmax(D + (1 - C - D) * Fc, 1e-300)
    list(p = p, q = q, F = F, dens = dens, C = C, D = D)
  }
  negll <- function(par, nslopes) {
    s <- loglik_parts(par, nslopes)
    -sum(data$r * log(s$p) + (data$n - data$r) * log(s$q))
  }
  neggrad <- function(par, nslopes) {
    s <- loglik_parts(par, nslopes)
    w <- data$r / s$p - (data$n - data$r) / s$q      # d loglik / d P
    dz <- w * (1 - s$C - s$D) * s$dens
    ga <- rowsum(dz, prep, reorder = FALSE)
    gb <- if (nslopes == 1) sum(dz * data$x) else rowsum(dz * data$x, prep, reorder = FALSE)
    gC <- sum(w * (1 - s$F))
    gD <- sum(-w * s$F)
    -c(ga, gb, gC, gD)
  }
  fit <- function(start, nslopes) {
    lower <- c(rep(-Inf, np + nslopes), 0, 0)
    upper <- c(rep(Inf, np + nslopes), 0.5, 0.5)
    # factr 1e4: the default (1e7) stops about 0.1 short of the maximum
    # log-likelihood on these data.
    o <- optim(start, negll, neggrad, nslopes = nslopes, method = "L-BFGS-B",
               lower = lower, upper = upper, control = list(maxit = 10000, factr = 1e4))
    if (o$convergence != 0) warning("optim: ", o$message)
    h <- optimHess(o$par, negll, neggrad, nslopes = nslopes)
    list(par = o$par, cov = solve(h), expected = data$n * loglik_parts(o$par, nslopes)$p)
  }
  # Starting values: a probit line per preparation through its treated groups.
  starts <- sapply(seq_len(np), function(i)
    coef(glm(cbind(r, n - r) ~ x, family = binomial("probit"),
             data = data[data$prep == i & !data$control, ])))
  controls <- data[data$control, ]
  c0 <- if (nrow(controls) > 0) min(max(sum(controls$r) / sum(controls$n), 0.01), 0.4) else 0.01
  sep <- fit(c(starts[1, ], starts[2, ], c0, 0.01), np)
  sep_expected <- sep$expected
  se <- sqrt(pmax(diag(sep$cov), 0))
  sep_table <- cbind(Estimate = sep$par, "Std. Error" = se, "Wald Chi2" = (sep$par / se)^2)
  sep_npar <- 2 * np + 2
  # The common slope starts at the mean slope, each intercept keeping the
  # preparation's ED50.
  b0 <- mean(sep$par[np + seq_len(np)])
  a0 <- sep$par[seq_len(np)] / sep$par[np + seq_len(np)] * b0
  com <- fit(c(a0, b0, sep$par[2 * np + 1:2]), 1)
  com_coef <- com$par
  com_cov <- com$cov
  com_expected <- com$expected
  com_npar <- np + 3
}

# ---- Tests ------------------------------------------------------------------
pearson <- function(e) sum((data$r - e)^2 / (e * (1 - e / data$n)))
deviance_of <- function(e) {
  term <- function(o, x) ifelse(o > 0, o * log(o / x), 0)
  2 * sum(term(data$r, e) + term(data$n - data$r, data$n - e))
}
sep_df <- ngroups - sep_npar
com_df <- ngroups - com_npar
test_table <- function(title, xs, xc) {
  cat(title, "\n")
  rows <- data.frame(DF = c(com_df - sep_df, sep_df, com_df),
                     ChiSq = c(xc - xs, xs, xc), row.names = c("Parallelism", "Heterogeneity", "Total"))
  rows$MS <- rows$ChiSq / rows$DF
  rows$p <- pchisq(rows$ChiSq, rows$DF, lower.tail = FALSE)
  print(rows)
  invisible(rows)
}
ptab <- test_table("Pearson chi-square", pearson(sep_expected), pearson(com_expected))
test_table("Likelihood-ratio chi-square", deviance_of(sep_expected), deviance_of(com_expected))
het <- 1
deviate <- qnorm(1 - level / 2)
if (ptab["Heterogeneity", "p"] < level) {
  het <- ptab["Heterogeneity", "MS"]
  deviate <- qt(1 - level / 2, sep_df)
  cat("Heterogeneity significant: variances multiplied by", het, "\n")
}

# ---- Estimates --------------------------------------------------------------
cat("Separate slopes\n")
print(sep_table)
V <- com_cov * het
se <- sqrt(pmax(diag(V), 0))
cat("Common slope\n")
print(cbind(Estimate = com_coef, "Std. Error" = se, "Wald Chi2" = (com_coef / se)^2))
print(V)

# ---- Effective doses with Fieller limits ------------------------------------
# ED_p of preparation j: m = (Y - a_j) / b with Y = F^-1(p). Fieller's limits
# of the ratio N / D with N = Y - a_j, D = b: var N = V[a_j, a_j],
# var D = V[b, b], cov(N, D) = -V[a_j, b]; none when g = t^2 var D / D^2 >= 1.
b <- com_coef[np + 1]
vbb <- V[np + 1, np + 1]
g <- deviate^2 * vbb / b^2
for (p in ed_levels) {
  Y <- quantile_fn(p)
  a <- com_coef[seq_len(np)]
  vaa <- diag(V)[seq_len(np)]
  cnd <- -V[seq_len(np), np + 1]
  m <- (Y - a) / b
  centre <- m - g * cnd / vbb
  radical <- vaa - 2 * m * cnd + m^2 * vbb - g * (vaa - cnd^2 / vbb)
  half <- deviate / abs(b) * sqrt(pmax(radical, 0))
  lower <- if (g < 1) (centre - half) / (1 - g) else NA
  upper <- if (g < 1) (centre + half) / (1 - g) else NA
  cat(sprintf("ED%g (95%% Fieller limits)\n", 100 * p))
  print(data.frame(ED = 10^m, lower = 10^lower, upper = 10^upper,
                   logED = m, loglower = lower, logupper = upper, row.names = preps))
}

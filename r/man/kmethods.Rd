\name{kmethods}
\alias{kmethods}
\title{karvel's Distance Formulas}
\description{The names of karvel's formulas for one kind of characters,
  as \code{\link{kdist}} takes them.}
\usage{kmethods(kind = c("continuous", "binary", "discrete"))}
\arguments{\item{kind}{the kind of characters.}}
\value{A character vector of formula names, e.g. \code{"EUCLIDEAN"}.}
\examples{
kmethods()
kmethods("binary")
}

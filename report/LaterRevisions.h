// The later-revision judgement of the report: what the revisions after a
// time-stamp's own changed. Every object whose current definition lies
// after the time-stamp's revision must be either reachable from the
// catalog's /DSS, a signature dictionary, signature field or widget (with
// what its /AP reaches), or one of the objects an incremental signing update
// rewrites (the catalog changed only in /DSS, /AcroForm, /Extensions or
// /Perms, a page changed only in /Annots, the form and its field list,
// /Annots arrays, new objects of the form's default resources (fonts for
// field appearances), cross-reference and object streams), or be unchanged
// from its definition at the end of the time-stamp's revision (the same
// value text, the same raw stream data); anything else, new or changed,
// counts as "other". At most kMaxVisitedObjects objects are compared for
// the whole document, and at most a hundred earlier revisions are opened to
// compare with; a time-stamp left unjudged when either runs out has its
// later changes "unknown" (unless some were found "other" already).
#ifndef VRD_REPORT_LATERREVISIONS_H_
#define VRD_REPORT_LATERREVISIONS_H_

#include <vector>

#include "report/DocumentInput.h"
#include "report/FieldWalk.h"
#include "report/ReportTypes.h"
#include "report/RevisionEnds.h"

namespace vrd::report {

// Sets later_changes and later_other_objects of every time-stamp of
// timestamps from pdf (the whole document) and the document as it stood at
// the end of each one's revision, opened through input. qpdf's exceptions
// reach the caller.
void JudgeLaterRevisions(QPDF* pdf, DocumentInput* input, const std::vector<RevisionEnd>& ends,
                         const Walk& walk, std::vector<TimeStampReport>* timestamps);

}  // namespace vrd::report

#endif  // VRD_REPORT_LATERREVISIONS_H_

#include "studio/app/model_preview.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QQmlEngine>
#include <QThreadPool>
#include <QUrl>

#include <optional>

#include "studio/app/preview_loader.h"

namespace pelorin::studio {

namespace {

// Previews load on threads of their own, never queued behind imports or deliveries.
QThreadPool& loaders() {
    static QThreadPool* pool = [] {
        auto* made = new QThreadPool;
        made->setMaxThreadCount(2);
        made->setExpiryTimeout(30000);
        return made;
    }();
    return *pool;
}

}  // namespace

ModelPreview::ModelPreview(QObject* parent) : QObject(parent), warmUp_(new QQuick3DTextureData) {
    // One triangle in the models' own vertex layout, so that its shaders are theirs.
    const float speck[3][8] = {
        {0, 0, 0, 0, 0, 1, 0, 0}, {1, 0, 0, 0, 0, 1, 1, 0}, {0, 1, 0, 0, 0, 1, 0, 1}};
    const std::uint32_t corners[3] = {0, 1, 2};
    warmUpGeometry_ = makeGeometry(
        QByteArray(reinterpret_cast<const char*>(speck), sizeof speck),
        QByteArray(reinterpret_cast<const char*>(corners), sizeof corners), {0, 0, 0}, {1, 1, 0});
    warmUp_->setParent(this);
    QQmlEngine::setObjectOwnership(warmUp_, QQmlEngine::CppOwnership);
    warmUp_->setSize(QSize(2, 2));
    warmUp_->setFormat(QQuick3DTextureData::RGBA8);
    warmUp_->setTextureData(QByteArray(2 * 2 * 4, char(18)));
}

ModelPreview::~ModelPreview() {
    cancel();
}

void ModelPreview::setSource(const QString& source) {
    if (source_ == source) return;
    source_ = source;
    emit sourceChanged();
}

QVariantList ModelPreview::parts() const {
    QVariantList list;
    for (const auto& subset : subsets_) {
        list.append(QVariantMap{{QStringLiteral("geometry"), QVariant::fromValue(subset.geometry)},
                                {QStringLiteral("texture"), QVariant::fromValue(subset.texture)}});
    }
    return list;
}

void ModelPreview::setStatus(Status status) {
    if (status_ == status) return;
    status_ = status;
    emit statusChanged();
}

void ModelPreview::cancel() {
    if (running_) *running_ = true;
    running_.reset();
    if (status_ == Status::Loading) setStatus(Status::Idle);
}

void ModelPreview::clear() {
    if (subsets_.empty()) return;
    std::vector<Subset> old = std::move(subsets_);
    subsets_.clear();
    emit modelChanged();
    for (const auto& subset : old) {
        subset.geometry->deleteLater();
        if (subset.texture) subset.texture->deleteLater();
    }
}

void ModelPreview::reload() {
    cancel();
    clear();
    if (source_.isEmpty()) {
        setStatus(Status::Idle);
        return;
    }
    setStatus(Status::Loading);
    const QUrl url(source_);
    const std::filesystem::path file =
        (url.isLocalFile() ? url.toLocalFile() : source_).toStdString();
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    running_ = cancelled;
    QPointer<ModelPreview> self(this);
    loaders().start([self, file, cancelled] {
        auto model =
            std::make_shared<std::optional<PreviewModel>>(loadPreviewModel(file, *cancelled));
        QCoreApplication* application = QCoreApplication::instance();
        if (*cancelled || !application) return;
        QMetaObject::invokeMethod(
            application,
            [self, cancelled, model] {
                // The view went away or started another load: this result belongs to no one.
                if (!self || *cancelled || self->running_ != cancelled) return;
                self->running_.reset();
                if (*model) {
                    self->show(**model);
                } else {
                    self->setStatus(Status::Failed);
                }
            },
            Qt::QueuedConnection);
    });
}

QQuick3DGeometry* ModelPreview::makeGeometry(const QByteArray& vertices, const QByteArray& indices,
                                             const QVector3D& boundsMin,
                                             const QVector3D& boundsMax) {
    auto* geometry = new QQuick3DGeometry;
    geometry->setParent(this);
    QQmlEngine::setObjectOwnership(geometry, QQmlEngine::CppOwnership);
    geometry->setPrimitiveType(QQuick3DGeometry::PrimitiveType::Triangles);
    geometry->setStride(PreviewModel::stride);
    geometry->setVertexData(vertices);
    geometry->setIndexData(indices);
    geometry->addAttribute(QQuick3DGeometry::Attribute::PositionSemantic, 0,
                           QQuick3DGeometry::Attribute::F32Type);
    geometry->addAttribute(QQuick3DGeometry::Attribute::NormalSemantic, 3 * sizeof(float),
                           QQuick3DGeometry::Attribute::F32Type);
    geometry->addAttribute(QQuick3DGeometry::Attribute::TexCoord0Semantic, 6 * sizeof(float),
                           QQuick3DGeometry::Attribute::F32Type);
    geometry->addAttribute(QQuick3DGeometry::Attribute::IndexSemantic, 0,
                           QQuick3DGeometry::Attribute::U32Type);
    geometry->setBounds(boundsMin, boundsMax);
    return geometry;
}

void ModelPreview::show(PreviewModel& model) {
    const QVector3D boundsMin = model.boundsMin, boundsMax = model.boundsMax;
    for (auto& part : model.subsets) {
        Subset subset;
        // Every subset draws from the same vertex bytes; QByteArray shares them.
        subset.geometry = makeGeometry(model.vertices, part.indices, boundsMin, boundsMax);
        if (!part.texture.isEmpty()) {
            subset.texture = new QQuick3DTextureData;
            subset.texture->setParent(this);
            QQmlEngine::setObjectOwnership(subset.texture, QQmlEngine::CppOwnership);
            subset.texture->setSize(part.textureSize);
            subset.texture->setFormat(QQuick3DTextureData::RGBA8);
            subset.texture->setHasTransparency(false);
            subset.texture->setTextureData(part.texture);
        }
        subsets_.push_back(std::move(subset));
    }
    scale_ = model.placement.scale;
    offset_ =
        QVector3D(model.placement.offset[0], model.placement.offset[1], model.placement.offset[2]);
    emit modelChanged();
    setStatus(Status::Ready);
}

}  // namespace pelorin::studio

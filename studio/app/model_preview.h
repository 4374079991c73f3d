#pragma once

#include <QtQml/qqmlregistration.h>
#include <QObject>
#include <QPointer>
#include <QQuick3DGeometry>
#include <QQuick3DTextureData>
#include <QVariantList>
#include <QVector3D>

#include <atomic>
#include <memory>
#include <vector>

namespace pelorin::studio {

struct PreviewModel;

// The loading half of the model preview: reads the file on a worker, then turns the buffers into
// geometry and texture objects that the long-lived 3D view draws. Each load starts from a clean
// state, and the result of a load that was superseded or cancelled is dropped unseen.
class ModelPreview : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString source READ source WRITE setSource NOTIFY sourceChanged)
    Q_PROPERTY(Status status READ status NOTIFY statusChanged)
    Q_PROPERTY(int subsetCount READ subsetCount NOTIFY modelChanged)
    // One entry per subset: {geometry, texture}; the texture is null for an untextured subset.
    Q_PROPERTY(QVariantList parts READ parts NOTIFY modelChanged)
    Q_PROPERTY(float modelScale READ modelScale NOTIFY modelChanged)
    Q_PROPERTY(QVector3D modelOffset READ modelOffset NOTIFY modelChanged)
    // A speck with the models' vertex layout and a tiny texture, for drawing the preview's
    // materials once before any model is there.
    Q_PROPERTY(QQuick3DGeometry* warmUpGeometry READ warmUpGeometry CONSTANT)
    Q_PROPERTY(QQuick3DTextureData* warmUpTexture READ warmUpTexture CONSTANT)

  public:
    // Capitalised, as QML needs its enumeration values.
    enum class Status { Idle, Loading, Ready, Failed };
    Q_ENUM(Status)

    explicit ModelPreview(QObject* parent = nullptr);
    ~ModelPreview() override;

    QString source() const { return source_; }
    void setSource(const QString& source);  // a path or a file: URL
    Status status() const { return status_; }
    int subsetCount() const { return int(subsets_.size()); }
    QVariantList parts() const;
    float modelScale() const { return scale_; }
    QVector3D modelOffset() const { return offset_; }

    QQuick3DGeometry* warmUpGeometry() const { return warmUpGeometry_; }
    QQuick3DTextureData* warmUpTexture() const { return warmUp_; }

    // Clears what is shown and loads the source again, even when it was loaded before: a job
    // that was built again keeps its path but not its model. Without a source it stays idle.
    Q_INVOKABLE void reload();
    // Drops the running load, if any; what it read never reaches the view.
    Q_INVOKABLE void cancel();

  signals:
    void sourceChanged();
    void statusChanged();
    void modelChanged();

  private:
    // Children of this object, deleted later so that the 3D view lets go of them first.
    struct Subset {
        QQuick3DGeometry* geometry = nullptr;
        QQuick3DTextureData* texture = nullptr;
    };

    void setStatus(Status status);
    void clear();
    void show(PreviewModel& model);
    QQuick3DGeometry* makeGeometry(const QByteArray& vertices, const QByteArray& indices,
                                   const QVector3D& boundsMin, const QVector3D& boundsMax);

    QQuick3DGeometry* warmUpGeometry_;
    QQuick3DTextureData* warmUp_;
    QString source_;
    Status status_ = Status::Idle;
    std::vector<Subset> subsets_;
    float scale_ = 1;
    QVector3D offset_;
    std::shared_ptr<std::atomic<bool>> running_;  // the cancel flag of the load in flight
};

}  // namespace pelorin::studio
